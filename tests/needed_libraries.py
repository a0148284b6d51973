"""Fails unless every file given needs at most libc.so.6 (readelf -d)."""
import subprocess
import sys

ALLOWED = {"libc.so.6"}


def needed(path):
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return [line.split("[", 1)[1].rstrip("]") for line in out.splitlines() if "(NEEDED)" in line]


def main(paths):
    bad = 0
    for path in paths:
        libs = needed(path)
        print(f"{path}: {' '.join(libs) or '(none)'}")
        if not set(libs) <= ALLOWED:
            print(f"  needs more than libc: {sorted(set(libs) - ALLOWED)}")
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
