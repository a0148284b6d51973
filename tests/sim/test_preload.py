"""The preload's own checks, seen from a process it serves: one open of a
blind-scan device at a time, and no tuner past the table's sixteen, even
where the memory behind the table is not empty.
Usage: test_preload.py SIMRX (it runs itself again under the simulator)."""
import errno
import os
import subprocess
import sys
import tempfile

# Sixteen tuners, and a verbatim listing line, whose text follows the
# table of frontend nodes in the simulator's memory.
DESCRIPTION = "".join(f"tuner {n} DVB-S2 NIM {n}\n" for n in range(16)) + "listing NIM Socket 0:\n"


def fails_with(code, call, *args):
    try:
        call(*args)
    except OSError as e:
        return e.errno == code
    return False


def inside():
    first = os.open("/dev/blindscan0", os.O_RDWR)
    checks = {
        "a second open of an open device is refused as busy": fails_with(errno.EBUSY, os.open, "/dev/blindscan0",
                                                                          os.O_RDWR),
        "frontend 16 does not exist": fails_with(errno.ENOENT, os.stat, "/dev/dvb/adapter0/frontend16"),
        "blind-scan device 16 does not exist": fails_with(errno.ENOENT, os.open, "/dev/blindscan16", os.O_RDWR),
        "frontend 15 exists": os.stat("/dev/dvb/adapter0/frontend15") is not None,
    }
    os.close(first)
    os.close(os.open("/dev/blindscan0", os.O_RDWR))  # free again once closed
    for what, passed in checks.items():
        print(("ok   " if passed else "FAIL ") + what)
    return 0 if all(checks.values()) else 1


def main(simrx):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rx.sat")
        with open(path, "w") as f:
            f.write(DESCRIPTION)
        # In a sanitizer build the interpreter runs with the runtimes
        # preloaded; what it leaves allocated at exit is its own.
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
        return subprocess.run([simrx, "-s", path, "-d", tmp, sys.executable, os.path.abspath(__file__), "--inside"],
                              env=env, timeout=60).returncode


if __name__ == "__main__":
    sys.exit(inside() if sys.argv[1:] == ["--inside"] else main(sys.argv[1]))
