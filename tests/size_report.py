"""Size and dependency report of the shipped files for one target: stripped
size, NEEDED libraries and the newest GLIBC_ symbol version each needs.
Fails when a file needs more than libc or outgrows its budget.
Usage: size_report.py STRIP [--budget NAME=BYTES]... FILE..."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile


def needed(path):
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", out)


def newest_glibc(path):
    out = subprocess.run(["readelf", "-V", "-W", path], capture_output=True, text=True, check=True).stdout
    versions = {tuple(map(int, v.split("."))) for v in re.findall(r"Name: GLIBC_([0-9.]+)", out)}
    return "GLIBC_" + ".".join(map(str, max(versions))) if versions else "-"


def stripped_size(strip, path):
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, "file")
        shutil.copy(path, copy)
        subprocess.run([strip, copy], check=True)
        return os.path.getsize(copy)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("strip")
    parser.add_argument("--budget", action="append", default=[])
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    budgets = dict((name, int(limit)) for name, limit in (b.split("=") for b in args.budget))
    failures = []
    print(f"{'file':<44} {'stripped':>9} {'budget':>7}  {'needs':<12} newest glibc symbol")
    for path in args.files:
        name = os.path.basename(path)
        size = stripped_size(args.strip, path)
        libs = needed(path)
        budget = budgets.get(name.split(".")[0])
        print(f"{name:<44} {size:>9} {budget or '-':>7}  {' '.join(libs) or '-':<12} {newest_glibc(path)}")
        if not set(libs) <= {"libc.so.6"}:
            failures.append(f"{name} needs {libs}")
        if budget is not None and size > budget:
            failures.append(f"{name} is {size} bytes stripped, over its budget of {budget}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
