"""The preload's own checks, seen from a process it serves: one opener of a
blind-scan device or a frontend at a time, no tuner past the table's
sixteen, even where the memory behind the table is not empty, what LNB
supply and DiSEqC commands leave in view, and the modelled cost.
Usage: test_preload.py SIMRX (it runs itself again under the simulator)."""
import ctypes
import errno
import fcntl
import os
import subprocess
import sys
import tempfile

# Sixteen tuners, and a verbatim listing line, whose text follows the
# table of frontend nodes in the simulator's memory; a carrier at IF 1205
# MHz behind each of two switch ports.
DESCRIPTION = ("".join(f"tuner {n} DVB-S2 NIM {n}\n" for n in range(16)) + "listing NIM Socket 0:\njitter off\n"
               "port A\ntp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
               "port B\ntp 10955000 H 22000000 DVB-S QPSK 3/4 0.35 off off\n")
FRONTEND = "/dev/dvb/adapter0/frontend0"
FE_DISEQC_SEND_MASTER_CMD, FE_SET_VOLTAGE = 0x40076F3F, 0x6F43
SEC_VOLTAGE_18, SEC_VOLTAGE_OFF = 1, 2
# Three searches that lock and one that does not, two voltage switches,
# two DiSEqC commands and a 250 ms wait.
COST = "searches=4 locked=3 lnb=2 diseqc=2 waited_ms=250 modelled_ms=4090\n"


def fails_with(code, call, *args):
    try:
        call(*args)
    except OSError as e:
        return e.errno == code
    return False


def rate_found(device):
    """The symbol rate a search of the window at IF 1200 MHz locks, or None.
    The records go through ctypes: aligned, as a tool's are."""
    ioctl = ctypes.CDLL(None).ioctl
    ioctl.argtypes = [ctypes.c_int, ctypes.c_ulong, ctypes.c_void_p]
    params = (ctypes.c_uint32 * 5)(1200000000, 2000000, 45000000, 0, 0)
    words = (ctypes.c_uint32 * 8)()
    if ioctl(device, 1, ctypes.addressof(params)) != 0 or ioctl(device, 2, None) != 0:
        return None
    return words[1] if ioctl(device, 3, ctypes.addressof(words)) == 0 else None


def diseqc(frontend, *message):
    fcntl.ioctl(frontend, FE_DISEQC_SEND_MASTER_CMD, bytes(message).ljust(6, b"\0") + bytes([len(message)]))


def inside():
    first = os.open("/dev/blindscan0", os.O_RDWR)
    frontend = os.open(FRONTEND, os.O_RDWR)
    checks = {
        "a second open of an open device is refused as busy": fails_with(errno.EBUSY, os.open, "/dev/blindscan0",
                                                                          os.O_RDWR),
        "a second open of an open frontend is refused as busy": fails_with(errno.EBUSY, os.open, FRONTEND, os.O_RDWR),
        "frontend 16 does not exist": fails_with(errno.ENOENT, os.stat, "/dev/dvb/adapter0/frontend16"),
        "blind-scan device 16 does not exist": fails_with(errno.ENOENT, os.open, "/dev/blindscan16", os.O_RDWR),
        "frontend 15 exists": os.stat("/dev/dvb/adapter0/frontend15") is not None,
        "port A's carrier before any command": rate_found(first) == 27500000,
    }
    diseqc(frontend, 0xE0, 0x10, 0x38, 0xF4)
    checks["a committed-switch command selects port B"] = rate_found(first) == 22000000
    diseqc(frontend, 0xE0, 0x10, 0x39, 0xF0)
    checks["an uncommitted-switch command leaves the port"] = rate_found(first) == 22000000
    fcntl.ioctl(frontend, FE_SET_VOLTAGE, SEC_VOLTAGE_OFF)
    checks["with the LNB supply off nothing is in view"] = rate_found(first) is None
    fcntl.ioctl(frontend, FE_SET_VOLTAGE, SEC_VOLTAGE_18)

    class timespec(ctypes.Structure):
        _fields_ = [("tv_sec", ctypes.c_long), ("tv_nsec", ctypes.c_long)]
    ctypes.CDLL(None).nanosleep(ctypes.byref(timespec(0, 250000000)), None)
    os.close(frontend)
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
        status = subprocess.run([simrx, "-s", path, "-d", tmp, sys.executable, os.path.abspath(__file__), "--inside"],
                                env=env, timeout=60).returncode
        with open(os.path.join(tmp, "cost")) as f:
            cost = f.read()
        print(("ok   " if cost == COST else "FAIL ") + "the modelled cost: " + cost.strip())
        return status or int(cost != COST)


if __name__ == "__main__":
    sys.exit(inside() if sys.argv[1:] == ["--inside"] else main(sys.argv[1]))
