"""The module exports exactly PyInit_zarvocrc and the 1024-byte CRCTABLE."""
import subprocess
import sys


def main(path):
    out = subprocess.run(["nm", "-D", "-S", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    symbols = {line.split()[-1]: line.split() for line in out.splitlines() if line.strip()}
    print(out.strip())
    ok = sorted(symbols) == ["CRCTABLE", "PyInit_zarvocrc"]
    table = symbols.get("CRCTABLE", [])
    ok = ok and len(table) == 4 and int(table[1], 16) == 1024 and table[2] in ("R", "r")
    if not ok:
        print("expected exactly PyInit_zarvocrc and a 1024-byte read-only CRCTABLE")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
