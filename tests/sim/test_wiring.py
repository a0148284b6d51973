"""How the preload wires several tuners, seen from a threaded tool: each
tuner's own cable, a tuner looping through another's, a tuner in use by
another program, and threads on two tuners overlapping in modelled time the
same way on every run.
Usage: test_wiring.py SIMRX TUNER_THREADS"""
import os
import subprocess
import sys
import tempfile

# A 27.5 Msym/s carrier horizontal and a 22 Msym/s one vertical, both at IF
# 1205 MHz: a search there tells which polarisation the cable delivers.
TUNERS = ("tuner 0 DVB-S2 NIM 0\ntuner 1 DVB-S2 NIM 1\njitter off\n"
          "tp 10955000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
          "tp 10955000 V 22000000 DVB-S QPSK 3/4 0.35 off off\n")
H, V = "27500000", "22000000"

# Tuner 0 searches 6 steps vertically, tuner 1 9 horizontally, each found
# on 3 steps: 6320 and 10070 ms busy after the 2 s pause, side by side.
OVERLAP = ["0=V*6", "1=H*9"]
OVERLAP_COST = ("searches=15 locked=6 lnb=2 diseqc=0 waited_ms=2750 modelled_ms=12070 "
                "tuners=2 busy_ms.0=6320 busy_ms.1=10070")

# With two tuners in use, a request line names its node, as the kernel's
# driver model logs it.
FRONTEND0, FRONTEND1 = "ioctl /dev/dvb/adapter0/frontend0 ", "ioctl /dev/dvb/adapter0/frontend1 "

# (what, description lines, launcher options, arguments, rates found by
# tuner, lines in the log, cost line)
SEARCHES = [
    ("each tuner's cable keeps its own polarisation", "", [], OVERLAP, {0: {V}, 1: {H}},
     [FRONTEND0 + "FE_SET_VOLTAGE SEC_VOLTAGE_13 -> 0", FRONTEND1 + "FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0"],
     OVERLAP_COST),
    ("a tuner looping through sees its driver's setting, not its own request", "input 1 0\n", [],
     ["0=V*3", "1=H*3"], {0: {V}, 1: {V}}, [FRONTEND1 + "FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0"],
     "searches=6 locked=4 lnb=1 diseqc=0 waited_ms=2300 modelled_ms=4970 tuners=2 busy_ms.0=2970 busy_ms.1=2950"),
]

# (what, description lines, launcher options, arguments, output)
WATCHES = [
    ("a busy tuner opens read-only alone and shows its cable's setting", "busy 1\n", ["-l", "high V"], ["1"],
     "frontend read-write EBUSY\nblind-scan device EBUSY\nfrontend read-only ok\n"
     "voltage and tone ok 0 0\nfrequency EINVAL\n"),
    ("a busy tuner behind another's cable shows what that one set", "input 1 0\nbusy 1\n", [], ["1", "0"],
     "frontend read-write EBUSY\nblind-scan device EBUSY\nfrontend read-only ok\n"
     "voltage and tone ok 1 0\nfrequency EINVAL\n"),
]


def run(simrx, program, tmp, description, options, args):
    """The tool's output, the request log and the cost line of one run."""
    path = os.path.join(tmp, "rx.sat")
    with open(path, "w") as f:
        f.write(TUNERS + description)
    rundir = os.path.join(tmp, "run")
    subprocess.run(["rm", "-rf", rundir], check=True)
    out = subprocess.run([simrx, "-s", path, "-d", rundir, *options, program, *args], capture_output=True,
                         text=True, timeout=60).stdout
    with open(os.path.join(rundir, "requests.log")) as f:
        log = f.read()
    with open(os.path.join(rundir, "cost")) as f:
        cost = f.read().strip()
    return out, log, cost


def searches(out):
    """(tuner, rate, ms) of each search line, in the order printed."""
    return [(int(w[0]), w[2], int(w[3])) for w in (line.split() for line in out.splitlines()) if len(w) == 4]


def search_checks(simrx, program, tmp, case):
    what, description, options, args, rates, log_lines, cost_line = case
    out, log, cost = run(simrx, program, tmp, description, options, args)
    found = {t: {r for n, r, _ in searches(out) if n == t and r != "-"} for t in rates}
    times = [ms for _, _, ms in searches(out)]
    return {
        what: found == rates and all(line in log.splitlines() for line in log_lines),
        what + ": the modelled cost": cost == cost_line,
        what + ": searches reported in modelled order": times == sorted(times),
        what + ": the tool's clock ends when the last tuner does": out.endswith(
            "total %s\n" % cost_line.split("modelled_ms=")[1].split()[0]),
    }


def main(simrx, program):
    checks = {}
    with tempfile.TemporaryDirectory() as tmp:
        for case in SEARCHES:
            checks.update(search_checks(simrx, program, tmp, case))
        for what, description, options, args, expected in WATCHES:
            checks[what] = run(simrx, program, tmp, description, options, ["--watch", *args])[0] == expected
        first = run(simrx, program, tmp, "", [], OVERLAP)
        checks["the same run on every try, whatever the scheduling"] = all(
            run(simrx, program, tmp, "", [], OVERLAP) == first for _ in range(4))
    for what, passed in checks.items():
        print(("ok   " if passed else "FAIL ") + what)
    return 0 if all(checks.values()) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
