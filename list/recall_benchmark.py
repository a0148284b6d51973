"""Recall of a whole blind scan: every satellite of a folder of DVBv5 channel
tables (Debian's dtv-scan-tables by default) swept four times on the simulated
receiver (horizontal and vertical, low and high band), merged by skylist, and
compared with the carriers the table puts in view. Then skylist's throughput
on 10^4 to 10^6 input lines.

usage: recall_benchmark.py SIMRX SKYSWEEP SKYLIST [TABLES_DIR]
"""
import argparse
import concurrent.futures
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

def project_version():
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "VERSION")) as f:
        return f.read().strip()


SWEEPS = [("low H", ["0", "0"]), ("low V", ["1", "0"]), ("high H", ["0", "1"]), ("high V", ["1", "1"])]
SYMBOL_RATES = (2, 45)  # Msym/s, skysweep's defaults


def sweep(simrx, skysweep, table, rundir):
    lines = []
    for lnb, (polar, band) in SWEEPS:
        done = subprocess.run([simrx, "-s", table, "-l", lnb, "-d", rundir, skysweep, "950", "2150",
                               *map(str, SYMBOL_RATES), polar, band, "0"],
                              capture_output=True, text=True, timeout=120)
        lines += done.stderr.splitlines(keepends=True)
    carriers = []
    with open(os.path.join(rundir, "carriers")) as f:
        for line in f:
            if line.startswith("carrier "):
                _, khz, pol, sr, _, _ = line.split()
                carriers.append((int(khz), pol, int(sr)))
    return lines, carriers


def nearest(carriers, khz, pol, sr):
    """The carrier a measurement of (khz, pol, sr) belongs to, or None: the
    nearest on its polarisation, closer than a quarter of the two rates."""
    best = None
    for c in carriers:
        if c[1] != pol:
            continue
        apart = abs(c[0] - khz)
        if 4000 * apart < c[2] + sr and (best is None or apart < abs(best[0] - khz)):
            best = c
    return best


def why_missed(carrier):
    low, high = SYMBOL_RATES
    if not low * 1000000 <= carrier[2] <= high * 1000000:
        return f"symbol rate outside {low}-{high} Msym/s"
    return "each step that catches it locks on a nearer carrier"


def measure(simrx, skysweep, skylist, table):
    started = time.monotonic()
    with tempfile.TemporaryDirectory() as rundir:
        lines, carriers = sweep(simrx, skysweep, table, rundir)
    listed = subprocess.run([skylist, "-f", "jsonl"], input="".join(lines), capture_output=True, text=True,
                            timeout=120)
    entries = [json.loads(line) for line in listed.stdout.splitlines()]
    found = set()
    for line in lines:
        fields = line.split()
        match = nearest(carriers, int(fields[2]), fields[1][0], int(fields[3]))
        if match is not None:
            found.add(match)
    matched, phantoms, errors = {}, 0, []
    for e in entries:
        match = nearest(carriers, e["frequency"], (e["polarization"] or "?")[0], e["symbol_rate"])
        if match is None:
            phantoms += 1
            continue
        matched[match] = matched.get(match, 0) + 1
        errors.append(abs(e["frequency"] - match[0]))
    missed = {}
    for c in set(carriers) - found:
        missed[why_missed(c)] = missed.get(why_missed(c), 0) + 1
    return {
        "name": os.path.basename(table), "in_view": len(carriers), "found": len(found), "listed": len(entries),
        "once": sum(1 for n in matched.values() if n == 1), "duplicates": sum(n - 1 for n in matched.values()),
        "phantoms": phantoms, "errors": errors, "missed": missed, "lines": lines, "skipped": listed.returncode != 0,
        "seconds": time.monotonic() - started,
    }


def row(name, r, errors):
    median = statistics.median(errors) if errors else 0
    largest = max(errors) if errors else 0
    print(f"{name:<28} {r['in_view']:>5} {r['found']:>5} {r['listed']:>6} {r['once']:>5} {r['duplicates']:>4} "
          f"{r['phantoms']:>4} {median:>7.0f} {largest:>7} {r['seconds']:>7.2f}")


def recall(simrx, skysweep, skylist, tables_dir):
    tables = sorted(os.path.join(tables_dir, n) for n in os.listdir(tables_dir))
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = list(pool.map(lambda t: measure(simrx, skysweep, skylist, t), tables))
    wall = time.monotonic() - started
    results = [r for r in results if r["in_view"] > 0]
    print(f"{'satellite':<28} {'view':>5} {'found':>5} {'listed':>6} {'once':>5} {'dup':>4} {'phan':>4} "
          f"{'med kHz':>7} {'max kHz':>7} {'seconds':>7}")
    total = {k: sum(r[k] for r in results) for k in ("in_view", "found", "listed", "once", "duplicates", "phantoms")}
    total["seconds"] = wall
    errors = [e for r in results for e in r["errors"]]
    for r in results:
        row(r["name"], r, r["errors"])
    print("-" * 96)
    row(f"all {len(results)} satellites", total, errors)
    missed = {}
    for r in results:
        for reason, n in r["missed"].items():
            missed[reason] = missed.get(reason, 0) + n
    for reason, n in sorted(missed.items(), key=lambda item: -item[1]):
        print(f"  never found: {n} carriers: {reason}")
    if any(r["skipped"] for r in results):
        print("  skylist skipped lines: see its standard error")
    print(f"  result lines merged: {sum(len(r['lines']) for r in results)}; wall time {wall:.1f} s on "
          f"{os.cpu_count()} cores")
    return results, total


def throughput(skylist, lines):
    """skylist's cost against the number of input lines, one satellite's sweeps repeated."""
    print(f"\n{'input lines':>12} {'seconds':>8} {'lines/s':>10}")
    with tempfile.TemporaryDirectory() as tmp:
        for count in (10**4, 10**5, 10**6):
            path = os.path.join(tmp, "lines")
            with open(path, "w") as f:
                f.write("".join(lines[i % len(lines)] for i in range(count)))
            best = None
            for _ in range(3):
                started = time.monotonic()
                subprocess.run([skylist, path], stdout=subprocess.DEVNULL, check=True)
                elapsed = time.monotonic() - started
                best = elapsed if best is None else min(best, elapsed)
            print(f"{count:>12} {best:>8.3f} {count / best:>10.0f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     epilog="Exit status 1 on a duplicate or phantom entry.")
    parser.add_argument("simrx", help="the simulated receiver's launcher (build/dev/sim/simrx)")
    parser.add_argument("skysweep", help="the skysweep to run")
    parser.add_argument("skylist", help="the skylist to run")
    parser.add_argument("tables_dir", nargs="?", default="/usr/share/dvb/dvb-s", help="DVBv5 channel tables")
    parser.add_argument("-V", "--version", action="version", version=f"%(prog)s {project_version()}")
    args = parser.parse_args()
    simrx, skysweep, skylist, tables_dir = args.simrx, args.skysweep, args.skylist, args.tables_dir
    results, total = recall(simrx, skysweep, skylist, tables_dir)
    busiest = max(results, key=lambda r: len(r["lines"]))
    throughput(skylist, busiest["lines"])
    return 0 if total["duplicates"] == 0 and total["phantoms"] == 0 and total["once"] == total["found"] else 1


if __name__ == "__main__":
    sys.exit(main())
