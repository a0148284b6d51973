"""Draws how skyscan searched a stretch of band: the carriers on top, then
every search in the order made, as the 10 MHz window it looked at, marked
with what it found. Runs skyscan on the simulated receiver, so the picture
is of a real run.

usage: strategy_picture.py SIMRX SKYSCAN SKYSWEEP OUT.svg
"""
import argparse
import os
import subprocess
import sys
import tempfile

# A stretch of one polarisation: a wide carrier with narrow ones beside it
# (one in its roll-off skirt), a crowded group of narrow carriers, an empty
# stretch, and a demodulator that prefers the wider of two carriers.
SKY = """tuner 0 DVB-S2 DVB-S2 NIM (internal)
demodulator wider
jitter off
tp 10962000 H 3000000 DVB-S2 QPSK 3/4 0.20 off auto
tp 10990000 H 30000000 DVB-S2 8PSK 2/3 0.35 on auto
tp 11007500 H 2200000 DVB-S QPSK 3/4 0.35 off off
tp 11019000 H 3000000 DVB-S2 QPSK 3/4 0.20 off auto
tp 11052000 H 4000000 DVB-S QPSK 5/6 0.35 off off
tp 11057000 H 3000000 DVB-S QPSK 5/6 0.35 off off
tp 11061000 H 2500000 DVB-S QPSK 5/6 0.35 off off
tp 11066000 H 4000000 DVB-S2 8PSK 3/4 0.25 on auto
tp 11110000 H 27500000 DVB-S QPSK 3/4 0.35 off off
"""
RANGE = (10940, 11140)  # MHz at the dish
LNB = 9750  # MHz, low band
KINDS = {"step": ("#4a78b0", "a step of the sweep"), "gap": ("#e08a1e", "a gap beside a carrier, rate capped to fit"),
         "repeat": ("#c23b3b", "the same window again, rate capped below a carrier listed before"),
         "probe": ("#7b5aa6", "a wide carrier measured again 2.5 MHz on: how far off the driver measures")}
WIDTH, LEFT, ROW = 1100, 40, 16


def run(simrx, skyscan):
    with tempfile.TemporaryDirectory() as rundir:
        sat = os.path.join(rundir, "stretch.sat")
        with open(sat, "w") as f:
            f.write(SKY)
        lines = subprocess.run([simrx, "-s", sat, "-d", rundir, skyscan, "-q", "-p", "h", "-b", "low",
                                "-f", f"{RANGE[0]}-{RANGE[1]}"], capture_output=True, text=True, check=True).stdout
        with open(os.path.join(rundir, "requests.log")) as f:
            log = f.read().splitlines()
    searches, listed, last = [], set(), None
    for i, line in enumerate(log):
        if not line.startswith("ioctl BS_SET_PARAMS"):
            continue
        window, cap = int(line.split()[2]) / 1e6 + LNB, int(line.split()[4])
        found = None
        if log[i + 1] == "ioctl BS_SEARCH -> 0":
            found = int(log[i + 2].split()[4]) / 1e6 + LNB
        kind = "step" if cap == 45000000 else "gap"
        if last is not None and window == last[0] and cap < last[1]:
            kind = "repeat"
        if last is not None and abs(window - last[0] - 2.5) < 1e-6 and cap == last[1] and last[2]:
            kind = "probe"
        new = found is not None and round(found, 1) not in listed
        if found is not None:
            listed.add(round(found, 1))
        searches.append((window, cap, found, kind, new))
        wide_and_new = new and int(log[i + 2].split()[5]) >= 10000000
        last = (window, cap, wide_and_new)
    return searches, len(lines.splitlines())


def plain_finds(simrx, skysweep):
    """Carriers the plain 10 MHz sweep finds in the same stretch."""
    with tempfile.TemporaryDirectory() as rundir:
        sat = os.path.join(rundir, "stretch.sat")
        with open(sat, "w") as f:
            f.write(SKY)
        done = subprocess.run([simrx, "-s", sat, "-d", rundir, skysweep, str(RANGE[0] - LNB), str(RANGE[1] - LNB),
                               "2", "45", "0", "0", "0"], capture_output=True, text=True, check=True)
    return len({line.split()[2][:5] for line in done.stderr.splitlines()})


def x_of(mhz):
    return LEFT + (mhz - RANGE[0]) / (RANGE[1] - RANGE[0]) * (WIDTH - 2 * LEFT)


def draw(searches, listed, plain):
    carriers = [line.split() for line in SKY.splitlines() if line.startswith("tp ")]
    top = 84
    height = top + 60 + ROW * len(searches) + 90
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" font-family="sans-serif" '
           f'font-size="12"><rect width="100%" height="100%" fill="white"/>',
           f'<text x="{LEFT}" y="22" font-size="15" font-weight="bold">How skyscan searched {RANGE[0]}-{RANGE[1]} MHz: '
           f'{len(searches)} searches, all {listed} carriers found</text>',
           f'<text x="{LEFT}" y="42" fill="#444">Horizontal, low band, a demodulator that prefers the wider of two '
           f'carriers. The plain 10 MHz sweep makes {(RANGE[1] - RANGE[0]) // 10} searches here and finds {plain}.'
           f'</text>']
    for mhz in range(RANGE[0], RANGE[1] + 1, 20):
        out.append(f'<line x1="{x_of(mhz):.1f}" y1="{top - 8}" x2="{x_of(mhz):.1f}" y2="{height - 80}" '
                   f'stroke="#e4e4e4"/><text x="{x_of(mhz):.1f}" y="{top - 12}" text-anchor="middle" '
                   f'fill="#666">{mhz}</text>')
    for c in carriers:
        khz, sr, rolloff = int(c[1]), int(c[3]), {"0.35": 0.35, "0.20": 0.2, "0.25": 0.25}[c[7]]
        half = sr * (1 + rolloff) / 2e6
        x0, x1 = x_of(khz / 1000 - half), x_of(khz / 1000 + half)
        out.append(f'<rect x="{x0:.1f}" y="{top}" width="{x1 - x0:.1f}" height="40" fill="#9fc79a" stroke="#3d7a36">'
                   f'<title>{khz / 1000:.1f} MHz, {sr / 1e6:g} Msym/s</title></rect>')
        out.append(f'<text x="{(x0 + x1) / 2:.1f}" y="{top + 54}" text-anchor="middle" font-size="10" '
                   f'fill="#3d7a36">{sr / 1e6:g}</text>')
    y = top + 70
    for n, (window, cap, found, kind, new) in enumerate(searches, 1):
        colour = KINDS[kind][0]
        out.append(f'<text x="{LEFT - 6}" y="{y + 11}" text-anchor="end" font-size="10" fill="#666">{n}</text>')
        out.append(f'<rect x="{x_of(window):.1f}" y="{y + 2}" width="{x_of(window + 10) - x_of(window):.1f}" '
                   f'height="{ROW - 5}" fill="{colour}" opacity="0.85"/>')
        note = "nothing" if found is None else ("new" if new else "listed before")
        if cap != 45000000:
            note += f", rate up to {cap / 1e6:.2f} Msym/s"
        if found is not None:
            fill = "#1f7a1f" if new else "#888"
            out.append(f'<circle cx="{x_of(found):.1f}" cy="{y + ROW / 2 - 1}" r="4" fill="{fill}" stroke="white"/>')
            out.append(f'<line x1="{x_of(window + 10):.1f}" y1="{y + ROW / 2 - 1}" x2="{x_of(found):.1f}" '
                       f'y2="{y + ROW / 2 - 1}" stroke="{fill}" stroke-dasharray="2,2"/>')
        right = max(x_of(window + 10), x_of(found or 0)) + 8
        if right > WIDTH - 260:  # no room on the right: before the window
            right, anchor = min(x_of(window), x_of(found or window)) - 8, "end"
        else:
            anchor = "start"
        out.append(f'<text x="{right:.1f}" y="{y + 11}" font-size="10" fill="#444" text-anchor="{anchor}">{note}</text>')
        y += ROW
    y += 20
    for kind, (colour, words) in KINDS.items():
        out.append(f'<rect x="{LEFT}" y="{y - 10}" width="28" height="11" fill="{colour}"/>'
                   f'<text x="{LEFT + 36}" y="{y}">{words}</text>')
        y += 18
    out.append(f'<circle cx="{LEFT + 14}" cy="{y - 5}" r="4" fill="#1f7a1f"/><text x="{LEFT + 36}" y="{y}">'
               f'what the search found: a new carrier (green), one listed before (grey)</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("simrx")
    parser.add_argument("skyscan")
    parser.add_argument("skysweep")
    parser.add_argument("out")
    args = parser.parse_args()
    searches, listed = run(args.simrx, args.skyscan)
    with open(args.out, "w") as f:
        f.write(draw(searches, listed, plain_finds(args.simrx, args.skysweep)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
