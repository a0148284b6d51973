"""Classification of a scan against known lists: for every orbital position
of a folder of DVBv5 channel tables (Debian's dtv-scan-tables by default), a
changed satellite is derived from its tables, with the truth recorded (some
carriers removed, some added, some with another symbol rate or
modulation), and scanned by skyscan on the simulated receiver with the
neighbouring positions' carriers in view (within 3 degrees). skylist then
compares the scan with the original tables (--known) and the neighbours'
(--neighbour), and every status it gives is checked against the truth.

usage: classify_benchmark.py [-p DEGREES [-k DIR]] SIMRX SKYSCAN SKYLIST [TABLES_DIR]
Each position is scanned under every demodulator model of the simulator
(nearest or widest carrier, quarter or half reach). With -p, one position
only; -k keeps its files in DIR (the default model alone): the changed
tables, the description, the scan, and skylist's list and map of it.
"""
import argparse
import collections
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile
import time

NEIGHBOUR_DEGREES = 3.0
# The simulated demodulator's assumptions, each run: which of two carriers a
# search locks, and how far past its window it sees.
CONFIGS = (("nearest", "quarter"), ("widest", "quarter"), ("nearest", "half"), ("widest", "half"))
STATUSES = ("unchanged", "changed", "new", "neighbour", "missing")
BAND = (10700000, 12750000)  # kHz a universal LNB delivers


def project_version():
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "VERSION")) as f:
        return f.read().strip()


def position(name):
    """Degrees east from a table's name ("Hotbird-13.0E", "Galaxy-28-89.0W"), or None."""
    m = re.search(r"(\d+(?:\.\d+)?)([EW])$", name)
    return None if m is None else float(m.group(1)) * (1 if m.group(2) == "E" else -1)


def read_blocks(path):
    """The blocks of a DVBv5 file as dicts, in order."""
    blocks, block = [], None
    with open(path, errors="replace") as f:
        for line in f:
            text = line.strip()
            if not text or text.startswith("#"):
                continue
            if text.startswith("["):
                block = {}
                blocks.append(block)
            elif block is not None and "=" in text:
                key, _, value = text.partition("=")
                block[key.strip()] = value.strip()
    return blocks


def lane(block):
    return {"HORIZONTAL": "H", "LEFT": "H", "VERTICAL": "V", "RIGHT": "V"}.get(block.get("POLARIZATION"))


def write_blocks(path, blocks):
    with open(path, "w") as f:
        for b in blocks:
            f.write("[CHANNEL]\n" + "".join(f"\t{k} = {v}\n" for k, v in b.items()) + "\n")


def derive(own_files):
    """The changed satellite's blocks and its truth: (lane, kHz) -> (status, changes)."""
    blocks, seen, absent = [], [], []
    for path in own_files:
        for b in read_blocks(path):
            try:
                khz, sr = int(b["FREQUENCY"]), int(b["SYMBOL_RATE"])
            except (KeyError, ValueError):
                continue
            if lane(b) is None or not BAND[0] <= khz <= BAND[1] or sr <= 0:
                continue
            # One carrier once, as the simulator and skylist fold them.
            if any(l == lane(b) and 2000 * abs(k - khz) < s + sr for l, k, s in seen):
                absent.append((khz, lane(b), sr))  # another file's description of a carrier kept
                continue
            seen.append((lane(b), khz, sr))
            blocks.append(dict(b))
    truth, changed, removed = {}, [], list(absent)

    def described_elsewhere(b):
        # Another file describes this carrier otherwise: which description a
        # change departs from would be unclear, so it stays as it is.
        khz, sr = int(b["FREQUENCY"]), int(b["SYMBOL_RATE"])
        return any(p == lane(b) and 2000 * abs(k - khz) < s + sr for k, p, s in absent)

    for i, b in enumerate(blocks):
        key = (lane(b), int(b["FREQUENCY"]))
        if described_elsewhere(b):
            truth[key] = ("unchanged", ())
            changed.append(b)
            continue
        if i % 9 == 4:
            truth[key] = ("missing", ())
            removed.append((key[1], key[0], int(b["SYMBOL_RATE"])))
            continue
        if i % 11 == 5:
            b["SYMBOL_RATE"] = str(int(b["SYMBOL_RATE"]) * 3 // 4 // 1000 * 1000)
            truth[key] = ("changed", ("symbol_rate",))
        elif i % 13 == 6 and b.get("DELIVERY_SYSTEM") == "DVBS2" and b.get("MODULATION") in ("QPSK", "PSK/8"):
            b["MODULATION"] = "QPSK" if b["MODULATION"] == "PSK/8" else "PSK/8"
            truth[key] = ("changed", ("modulation",))
        else:
            truth[key] = ("unchanged", ())
        changed.append(b)
    # New carriers: 5 Msym/s in the middle of each lane's three widest gaps
    # of the original tables, so none stands where a removed carrier was.
    for pol in "HV":
        edges = sorted([(int(b["FREQUENCY"]), int(b["SYMBOL_RATE"])) for b in blocks if lane(b) == pol]
                       + [(k, s) for k, p, s in absent if p == pol])
        gaps = []
        for (f1, s1), (f2, s2) in zip(edges, edges[1:]):
            room = (f2 - s2 * 0.675 / 1000) - (f1 + s1 * 0.675 / 1000)
            if room > 12000:
                gaps.append((room, (f1 + f2) // 2 // 1000 * 1000))
        for _, khz in sorted(gaps, reverse=True)[:3]:
            changed.append({"DELIVERY_SYSTEM": "DVBS2", "FREQUENCY": str(khz),
                            "POLARIZATION": "HORIZONTAL" if pol == "H" else "VERTICAL", "SYMBOL_RATE": "5000000",
                            "INNER_FEC": "3/4", "MODULATION": "PSK/8", "INVERSION": "AUTO"})
            truth[(pol, khz)] = ("new", ())
    return changed, truth, removed


def read_carriers(rundir):
    carriers = []
    with open(os.path.join(rundir, "carriers")) as f:
        for line in f:
            if line.startswith("carrier "):
                fields = line.split()
                carriers.append((int(fields[1]), fields[2], int(fields[3]), "neighbour=" in line))
    return carriers


def nearest(carriers, khz, pol, sr):
    best = None
    for c in carriers:
        if c[1] == pol and 4000 * abs(c[0] - khz) < c[2] + sr and (best is None or abs(c[0] - khz) < abs(best[0] - khz)):
            best = c
    return best


def classify(simrx, tools, config, pos, own, neighbours, keep=None):
    with tempfile.TemporaryDirectory() as scratch:
        rundir = keep or scratch
        blocks, truth, removed = derive(own)
        changed = os.path.join(rundir, "changed.conf")
        write_blocks(changed, blocks)
        sat = os.path.join(rundir, "sky.sat")
        with open(sat, "w") as f:
            f.write("tuner 0 DVB-S2 DVB-S2 NIM (internal)\nsatellite changed.conf\n")
            f.writelines(f"neighbour {n}\n" for n in neighbours)
        scan = subprocess.run([simrx, "-s", sat, "-m", config[0], "-r", config[1], "-d", rundir, tools["skyscan"],
                               "-q"], capture_output=True, text=True, timeout=300)
        carriers = read_carriers(rundir)
        args = [a for f in own for a in ("--known", f)] + [a for f in neighbours for a in ("--neighbour", f)]
        listed = subprocess.run([tools["skylist"], "-f", "jsonl", *args], input=scan.stdout, capture_output=True,
                                text=True, timeout=120)
        if keep:
            with open(os.path.join(keep, "changed.scan"), "w") as f:
                f.write(scan.stdout)
            for fmt, suffix in (("jsonl", "jsonl"), ("svg", "svg"), ("dvbv5", "conf")):
                with open(os.path.join(keep, f"changed.{suffix}"), "w") as f:
                    subprocess.run([tools["skylist"], "-f", fmt, "-t", f"{abs(pos):.1f}{'E' if pos >= 0 else 'W'} changed", *args,
                                    os.path.join(keep, "changed.scan")], stdout=f, timeout=120)
    neighbour_at = {(c[1], c[0]) for c in carriers if c[3]}
    tally = collections.Counter()
    wrong = []
    for entry in map(json.loads, listed.stdout.splitlines()):
        pol, got = (entry["polarization"] or "?")[0], entry["status"]
        if got == "missing":
            key = (pol, entry["frequency"])
            true = truth.get(key, ("?", ()))[0]
            tally[("missing", "right" if true == "missing" else "missed by the scan")] += 1
            continue
        c = nearest(carriers, entry["frequency"], pol, entry["symbol_rate"])
        if c is None:
            tally[(got, "phantom")] += 1
            continue
        if c[3] and any(r[1] == pol and 2000 * abs(r[0] - entry["frequency"]) < r[2] + entry["symbol_rate"]
                        for r in removed):
            # Where a removed carrier was (or another file describes one the
            # satellite does not carry), a neighbour's shows: the known list
            # still has it, and no comparison can tell them apart.
            tally[("neighbour", "where a removed own carrier was")] += 1
            continue
        if c[3]:
            expected = ("neighbour", ())
        else:
            expected = truth.get((pol, c[0]), ("unchanged", ()))
        if got == expected[0] and (got != "changed" or tuple(entry["changes"]) == expected[1]):
            tally[(got, "right")] += 1
        elif expected[0] == "new" and got == "neighbour":
            tally[("new", "called neighbour where a neighbour's carrier sits")] += 1
        else:
            tally[(got, "wrong")] += 1
            tally[(expected[0], "missed")] += 1
            wrong.append(f"{entry['frequency']} {pol}: {got} {entry['changes']}, truly {expected[0]} "
                         f"{list(expected[1])}")
    return {"config": config, "position": pos, "tally": tally, "wrong": wrong, "skipped": listed.returncode != 0,
            "neighbours": len(neighbours)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     epilog="Exit status 1 when a listed entry gets a status other than its true "
                                            "one (a new carrier where a neighbour's sits counted apart).")
    parser.add_argument("simrx")
    parser.add_argument("skyscan")
    parser.add_argument("skylist")
    parser.add_argument("tables_dir", nargs="?", default="/usr/share/dvb/dvb-s")
    parser.add_argument("-p", "--position", type=float, help="only this position, degrees east (west negative)")
    parser.add_argument("-k", "--keep", metavar="DIR", help="with -p: keep its files in DIR")
    parser.add_argument("-V", "--version", action="version", version=f"%(prog)s {project_version()}")
    args = parser.parse_args()
    if args.keep and args.position is None:
        parser.error("--keep needs --position")
    tools = {"skyscan": args.skyscan, "skylist": args.skylist}
    by_position = collections.defaultdict(list)
    for name in sorted(os.listdir(args.tables_dir)):
        pos = position(name)
        if pos is not None:
            by_position[pos].append(os.path.join(args.tables_dir, name))
    jobs = []
    for pos, own in sorted(by_position.items()):
        if args.position is not None and pos != args.position:
            continue
        neighbours = [f for p, files in by_position.items() if p != pos and abs(p - pos) <= NEIGHBOUR_DEGREES
                      for f in files]
        jobs.append((pos, own, neighbours))
    started = time.monotonic()
    configs = CONFIGS[:1] if args.keep else CONFIGS  # one set of files kept: the model's default
    runs = [(config, *job) for config in configs for job in jobs]
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = list(pool.map(lambda run: classify(args.simrx, tools, *run, args.keep), runs))
    print(f"{len(jobs)} orbital positions, {sum(len(job[2]) > 0 for job in jobs)} with neighbours in view, "
          f"{len(configs)} demodulator models; {time.monotonic() - started:.1f} s")
    wrong = sum(report(config, [r for r in results if r["config"] == config]) for config in configs)
    if any(r["skipped"] for r in results):
        print("skylist skipped lines of some lists: see its standard error")
    print("goal met: every listed entry has its true status" if wrong == 0 else f"GOAL NOT MET: {wrong} wrong")
    return 0 if wrong == 0 else 1


def report(config, results):
    """Prints one model's totals and worst positions; returns how many entries were wrong."""
    total = collections.Counter()
    for r in results:
        total.update(r["tally"])
    print(f"== demodulator {config[0]}, {config[1]} reach")
    print(f"{'status':<12} {'right':>7} {'wrong':>7} {'missed':>7}")
    for s in STATUSES:
        print(f"{s:<12} {total[(s, 'right')]:>7} {total[(s, 'wrong')]:>7} {total[(s, 'missed')]:>7}")
    print(f"  phantoms: {sum(n for (s, k), n in total.items() if k == 'phantom')}")
    print(f"  missing because the scan missed them (not removed): {total[('missing', 'missed by the scan')]}")
    print(f"  neighbours' carriers where the known lists have a carrier the satellite lacks: "
          f"{total[('neighbour', 'where a removed own carrier was')]}")
    print(f"  new carriers called neighbour where a neighbour's carrier sits: "
          f"{total[('new', 'called neighbour where a neighbour' + chr(39) + 's carrier sits')]}")
    for r in sorted(results, key=lambda r: -len(r["wrong"]))[:5]:
        if r["wrong"]:
            print(f"  {r['position']:+.1f}: {len(r['wrong'])} wrong, e.g. {r['wrong'][0]}")
    return sum(n for (s, k), n in total.items() if k in ("wrong", "phantom"))


if __name__ == "__main__":
    sys.exit(main())
