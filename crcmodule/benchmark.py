"""Benchmark of zarvocrc.crc32: ns per call beside binascii.crc32 and crcmod,
and instructions per call from callgrind, which are repeatable on a noisy
machine. Usage: benchmark.py MODULE_DIR [--no-callgrind]"""
import argparse
import os
import re
import subprocess
import sys
import timeit

SIZES = [0, 16, 30, 64, 250, 4096, 1 << 20]
CALLGRIND_SIZES = [0, 30, 250]
CALLGRIND_CALLS = 20000


def payload(size):
    return bytes((i * 7 + 3) & 0xFF for i in range(size))


def contenders(data, type_=5):
    """name -> (statement, namespace): one CRC the way its users call it.
    timeit runs the statement inline in its loop, so no wrapper is measured."""
    import binascii

    import zarvocrc

    space = {"crc32": zarvocrc.crc32, "binascii_crc32": binascii.crc32, "data": data, "type_": type_}
    calls = {"zarvocrc": "crc32(data, type_)", "binascii.crc32": "binascii_crc32(data)", "empty loop": "pass"}
    try:
        import crcmod
    except ImportError:
        return {name: (stmt, space) for name, stmt in calls.items()}
    space["crc"] = crcmod.mkCrcFun(0x104C11DB7, initCrc=0, rev=False, xorOut=0)
    space["prefix"] = bytes([type_, len(data) & 0xFF])
    space["prefixed"] = space["prefix"] + data
    calls["crcmod, prefix built"] = "crc(prefixed)"
    calls["crcmod, prefix per call"] = "crc(bytes((type_, len(data) & 255)) + data)"
    return {name: (stmt, space) for name, stmt in calls.items()}


def ns_per_call(call, size):
    stmt, space = call
    number = max(20, min(200000, 20000000 // (size + 64)))
    best = min(timeit.repeat(stmt, number=number, repeat=7, globals=space))
    return best / number * 1e9


def timing_table():
    names = [n for n in contenders(b"") if n != "empty loop"]
    print(f"{'bytes':>8} " + " ".join(f"{n:>24}" for n in names) + f" {'zarvocrc GB/s':>14}")
    for size in SIZES:
        calls = contenders(payload(size))
        ns = [ns_per_call(calls[n], size) for n in names]
        rate = f"{size / ns[0]:14.2f}" if size else f"{'':>14}"
        print(f"{size:>8} " + " ".join(f"{v:24.1f}" for v in ns) + f" {rate}")


def loop_only(name, size, calls):
    """Child mode: make `calls` calls of contender `name` on `size` bytes."""
    stmt, space = contenders(payload(size))[name]
    timeit.timeit(stmt, number=calls, globals=space)


def callgrind_instructions(name, size, calls):
    cmd = ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable, __file__,
           os.environ["ZARVOCRC_DIR"], "--loop", name, str(size), str(calls)]
    # A fixed hash seed keeps the interpreter's own work the same run to run.
    env = dict(os.environ, PYTHONHASHSEED="0")
    out = subprocess.run(cmd, capture_output=True, text=True, check=True, env=env).stderr
    return int(re.search(r"Collected : (\d+)", out).group(1))


def callgrind_table():
    names = [n for n in contenders(b"") if n not in ("binascii.crc32", "empty loop")]
    print(f"\ninstructions per call (callgrind, {CALLGRIND_CALLS} calls less an empty run)")
    print(f"{'bytes':>8} " + " ".join(f"{n:>24}" for n in names))
    per_call = {}
    for size in CALLGRIND_SIZES:
        row = []
        for name in names:
            base = callgrind_instructions(name, size, 0)
            total = callgrind_instructions(name, size, CALLGRIND_CALLS)
            per_call[name, size] = (total - base) / CALLGRIND_CALLS
            row.append(per_call[name, size])
        print(f"{size:>8} " + " ".join(f"{v:24.0f}" for v in row))
    loop = (callgrind_instructions("empty loop", 0, CALLGRIND_CALLS) - callgrind_instructions("empty loop", 0, 0))
    loop /= CALLGRIND_CALLS
    print(f"the timeit loop itself: {loop:.0f} instructions per iteration; zarvocrc net of it at 0 bytes: "
          f"{per_call['zarvocrc', 0] - loop:.0f}")
    for name in names:
        per_byte = (per_call[name, 250] - per_call[name, 0]) / 250
        print(f"{name}: {per_byte:.2f} instructions per data byte")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("module_dir")
    parser.add_argument("--no-callgrind", action="store_true")
    parser.add_argument("--loop", nargs=3, metavar=("NAME", "SIZE", "CALLS"))
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "VERSION")) as f:
        parser.add_argument("-V", "--version", action="version", version=f"%(prog)s {f.read().strip()}")
    args = parser.parse_args()
    sys.path.insert(0, args.module_dir)
    os.environ["ZARVOCRC_DIR"] = args.module_dir
    if args.loop:
        loop_only(args.loop[0], int(args.loop[1]), int(args.loop[2]))
        return
    import zarvocrc
    print(f"Python {sys.version.split()[0]}, {zarvocrc.__file__}")
    print("ns per call (best of 7 runs)")
    timing_table()
    if not args.no_callgrind:
        callgrind_table()


if __name__ == "__main__":
    main()
