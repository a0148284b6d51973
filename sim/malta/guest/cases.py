"""Runs inside the test machine, on its MIPS kernel. First the feed's
packages are installed with dpkg, and every file they should hold must be
in place: the cases below run the installed files. skysweep's cases run
twice, against the driver model in the kernel and against the preload
simulator: output, exit status and the requests the driver saw must agree,
and the search windows must be the ones the arguments ask for. skyscan's
cases run on the preload simulator first; the model computes, with
simrx-steps, what each of the searches it made finds, the kernel's driver
model is loaded with those answers, and skyscan's run on the kernel, its
LNB requests crossing the MIPS kernel's ioctl path, must agree with the
first byte for byte; on two tuners at once, as a set of lines. Then
several tuners at once on the kernel (wiring.py).
Then the guide CRC module's tests on the machine's Python, then the standby tool for
real, which restarts the machine. One "MALTA ..." line per result."""
import os
import re
import signal
import subprocess
import sys
import tempfile

from wiring import attribute, check_busy_tuner, check_concurrent_searches, load_table

RECEIVER = "/receiver"
SKYSWEEP = "/usr/bin/skysweep"
SKYSCAN = "/usr/bin/skyscan"
SITE_PACKAGES = "/usr/lib/python3.11/site-packages"
RECEIVER_PYTHONS = ["3.9", "3.10", "3.11", "3.12", "3.13"]
# What each package must install (the module once, a link to it and its
# stub in every receiver Python's site-packages).
PACKAGE_FILES = {
    "skytools": ["/usr/bin/skysweep", "/usr/bin/skyscan", "/usr/bin/skylist", "/usr/share/man/man1/skysweep.1",
                 "/usr/share/man/man1/skyscan.1", "/usr/share/man/man1/skylist.1"],
    "wakenap": ["/usr/bin/wakenap", "/usr/share/man/man8/wakenap.8"],
    "python3-zarvocrc": ["/usr/lib/zarvocrc/zarvocrc.abi3.so", "/usr/lib/zarvocrc/zarvocrc.pyi"]
    + [f"/usr/lib/python{v}/site-packages/zarvocrc.{ext}" for v in RECEIVER_PYTHONS for ext in ("abi3.so", "pyi")],
}
SATELLITE_TUNER = "tuner 0 DVB-S2 DVB-S2 NIM (internal)\n"
with open(f"{RECEIVER}/sat/default.sat") as f:
    DEFAULT_SAT = f.read()

# name, description, LNB setting, skysweep's arguments, the sweep they ask
# for (start, end, start_sr, end_sr) when the device is reached, else None.
CASES = [
    ("usage", SATELLITE_TUNER, None, [], None),
    ("missing frontend", SATELLITE_TUNER, None, ["950", "2150", "2", "45", "0", "0", "3"], None),
    ("cable tuner", SATELLITE_TUNER + "tuner 1 DVB-C cable NIM\n", None, ["950", "2150", "2", "45", "0", "0", "1"], None),
    ("device that cannot be opened", SATELLITE_TUNER + "fault open\n", None, ["950", "2150"], None),
    ("bundled satellite, horizontal low band", DEFAULT_SAT, None, ["950", "2150", "2", "45", "0", "0", "0"],
     (950, 2150, 2, 45)),
    ("bundled satellite, vertical high band", DEFAULT_SAT, "high V", ["950", "2150", "2", "45", "1", "1", "0"],
     (950, 2150, 2, 45)),
    ("failing and positive requests", SATELLITE_TUNER
     + "result at=1000 1000000000 22000000 6 9 2 2 0 0\nresult at=1010 1010000000 22000000 5 0 0 5 1 0\n"
     "result at=1020 1020000000 22000000 5 0 0 5 1 0\nresult at=1030 1030000000 27500000 6 9 2 3 2 1\n"
     "fault request=1 at=1000 ret=1\nfault request=2 at=1010 ret=-22\nfault request=3 at=1020 ret=2\n",
     None, ["990", "1040", "3", "30"], (990, 1040, 3, 30)),
    ("driver values outside the word tables", SATELLITE_TUNER
     + "result at=1000 1000000000 22000000 19 14 3 13 3 4\nresult at=1010 1010000000 3000000000 -1 -1 -1 -1 -1 -1\n",
     None, ["1000", "1020", "2", "45", "2", "0"], (1000, 1020, 2, 45)),
    ("empty range", SATELLITE_TUNER, None, ["1500", "1500"], (1500, 1500, 2, 45)),
]

# name, description, skyscan's arguments
PORTS_SAT = (SATELLITE_TUNER + "demodulator wider\nport A\n"
             "tp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
             "port B\ntp 11012000 H 27500000 DVB-S2 8PSK 2/3 0.35 on auto\n"
             "tp 11032000 H 3000000 DVB-S2 QPSK 3/4 0.20 off auto\n"
             "tp 12100000 V 22000000 DVB-S QPSK 5/6 0.35 off off\n")
CABLE_SAT = (SATELLITE_TUNER + "cable 50494\nuserband 1 1210\nuserband 4 1680 pin=99\n"
             + "".join(line + "\n" for line in DEFAULT_SAT.splitlines() if line.startswith("tp ")))
JESS_SAT = (SATELLITE_TUNER + "cable 50607 pass=occupied\nuserband 12 1420 pin=7\nposition 3\n"
            + "".join(line + "\n" for line in DEFAULT_SAT.splitlines() if line.startswith("tp ")))
CASCADE_SAT = (SATELLITE_TUNER + "port A,U2\ntp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
               "port C,U2\ntp 11012000 H 27500000 DVB-S2 8PSK 2/3 0.35 on auto\n"
               "port C,U5\ntp 12100000 V 22000000 DVB-S QPSK 5/6 0.35 off off\n"
               "port mini-B\ntp 11500000 V 5000000 DVB-S2 QPSK 3/4 0.20 off auto\n")
SKYSCAN_CASES = [
    ("skyscan, bundled satellite", DEFAULT_SAT, ["-q"]),
    ("skyscan, bundled satellite, wider demodulator and summary", DEFAULT_SAT + "demodulator wider\n", ["-p", "v"]),
    ("skyscan, DiSEqC port B", PORTS_SAT, ["-q", "-d", "B"]),
    ("skyscan, EN 50494 user band 1 and the summary", CABLE_SAT, ["-u", "50494:1:1210", "-p", "h"]),
    ("skyscan, EN 50494 user band 4 with its PIN", CABLE_SAT, ["-q", "-u", "50494:4:1680:1:99", "-b", "high"]),
    ("skyscan, EN 50607 user band 12, position 3, PIN", JESS_SAT, ["-q", "-u", "50607:12:1420:3:7", "-p", "v"]),
    ("skyscan, a switch behind port C of a committed one", CASCADE_SAT, ["-q", "-d", "C,U5"]),
    ("skyscan, tone burst B", CASCADE_SAT, ["-q", "-d", "mini-B", "-p", "v"]),
    ("skyscan, busy frontend", SATELLITE_TUNER + "fault frontend open\n", []),
    ("skyscan, LNB that cannot be set", SATELLITE_TUNER + "fault frontend lnb\n", []),
    ("skyscan, refused windows", SATELLITE_TUNER + "fault request=1 ret=-22\n", ["-q", "-b", "low"]),
]

DRIVER_SEES = ("open /dev/blindscan", "ioctl ", "close /dev/blindscan", "open /dev/dvb/", "close /dev/dvb/")


def u32(value):
    return value % (1 << 32)


def run_on_preload(description, lnb, args, program=SKYSWEEP):
    with tempfile.TemporaryDirectory() as rundir:
        env = {"PATH": "/bin", "LD_PRELOAD": f"{RECEIVER}/lib/libsimrx.so", "SIMRX_SAT": description,
               "SIMRX_DIR": rundir, "SIMRX_PROGRAM": os.path.basename(program), "SIMRX_LNB": lnb or ""}
        done = subprocess.run([program, *args], env=env, capture_output=True, timeout=300)
        with open(os.path.join(rundir, "requests.log")) as f:
            return done, f.read().splitlines()


def load_into_kernel(description, lnb, sweep):
    start, end, sr_min, sr_max = sweep or (950, 2150, 2, 45)
    load_table(subprocess.run([f"{RECEIVER}/bin/simrx-steps", description, lnb or "-", str(start), str(end),
                               str(sr_min), str(sr_max)], capture_output=True, text=True, check=True).stdout)


def searches_made(log):
    """Each search window of a run ("T: query HZ SR_MIN SR_MAX", T its
    tuner) after the frontend requests that set the LNB before it, for
    simrx-steps to replay: "voltage 13|18|off", "tone on|off", "diseqc
    XX..", "burst A|B"."""
    lines = []
    for tuner, line in attribute(log)[0]:
        words = line.split()
        if not line.startswith("ioctl ") or not line.endswith("-> 0"):
            continue
        prefix = f"{tuner or 0}: "
        if words[1] == "FE_SET_VOLTAGE":
            lines.append(prefix + "voltage " + words[2].rsplit("_", 1)[1].lower())
        elif words[1] == "FE_SET_TONE":
            lines.append(prefix + "tone " + ("on" if words[2] == "SEC_TONE_ON" else "off"))
        elif words[1] == "FE_DISEQC_SEND_MASTER_CMD":
            lines.append(prefix + "diseqc " + " ".join(words[2:-2]))
        elif words[1] == "FE_DISEQC_SEND_BURST":
            lines.append(prefix + "burst " + words[2][-1])
        elif words[1] == "BS_SET_PARAMS":
            lines.append(prefix + f"query {words[2]} {words[3]} {words[4]}")
    return lines


def run_on_kernel(description, lnb, args, sweep, program=SKYSWEEP):
    if sweep is not None or program == SKYSWEEP:
        load_into_kernel(description, lnb, sweep)
    done = subprocess.run([program, *args], env={"PATH": "/bin"}, capture_output=True, timeout=300)
    with open("/proc/simrx/log") as f:
        return done, f.read().splitlines()


def expected_windows(sweep):
    """Request 1's record words for every step, from the arguments alone."""
    if sweep is None:
        return []
    start, end, sr_min, sr_max = sweep
    return [f"ioctl BS_SET_PARAMS {u32(mhz * 1000000)} {u32(sr_min * 1000000)} {u32(sr_max * 1000000)} 0 0"
            for mhz in range(start, end, 10)]


def check_case(name, text, lnb, args, sweep):
    with tempfile.NamedTemporaryFile("w", suffix=".sat", delete=False) as f:
        f.write(text)
    user, user_log = run_on_preload(f.name, lnb, args)
    kernel, kernel_log = run_on_kernel(f.name, lnb, args, sweep)
    os.unlink(f.name)
    problems = compare(user, user_log, kernel, kernel_log)
    windows = [line.split(" -> ")[0] for line in kernel_log if line.startswith("ioctl BS_SET_PARAMS")]
    if windows != expected_windows(sweep):
        problems.append("search windows are not the ones asked for:\n  " + "\n  ".join(windows[:3]))
    return report(name, kernel, kernel_log, problems)


def check_skyscan_case(name, text, args):
    with tempfile.NamedTemporaryFile("w", suffix=".sat", delete=False) as f:
        f.write(text)
    user, user_log = run_on_preload(f.name, None, args, SKYSCAN)
    answers = subprocess.run([f"{RECEIVER}/bin/simrx-steps", f.name, "--answers"], input="\n".join(
        searches_made(user_log)) + "\n", capture_output=True, text=True, check=True).stdout
    load_table(answers)
    kernel, kernel_log = run_on_kernel(f.name, None, args, None, SKYSCAN)
    os.unlink(f.name)
    if "-q" not in args:  # the summary's time is the machine's own
        user.stderr, kernel.stderr = (re.sub(rb", [0-9]+:[0-9]{2}\n", b"\n", r.stderr) for r in (user, kernel))
    return report(name, kernel, kernel_log, compare(user, user_log, kernel, kernel_log))


# ---- skyscan on several tuners at once -----------------------------------
# name, description, skyscan's arguments, how many tuners must search.
# Measured exactly: a carrier measured differently at each step would be
# listed where the step that found it first put it, and which tuner gets
# there first is up to the kernel's scheduling.
TWO_TUNERS_SAT = ("tuner 0 DVB-S2 DVB-S2 NIM A\ntuner 1 DVB-S2 DVB-S2 NIM B\njitter off\n"
                  + "".join(line + "\n" for line in DEFAULT_SAT.splitlines() if line.startswith("tp ")))
SKYSCAN_TUNER_CASES = [
    ("skyscan, two tuners on their own cables", TWO_TUNERS_SAT, ["-q", "-t", "0,1"], 2),
    ("skyscan, two demodulators on one input", TWO_TUNERS_SAT + "input 1 0\n", ["-q", "-t", "0+1"], 2),
    ("skyscan, two tuners, tuner 1 busy", TWO_TUNERS_SAT + "busy 1\n", ["-q", "-t", "0,1"], 1),
]


def cables_of(text, args):
    """The cable each tuner of -t searches on: its own, or the one its input takes."""
    inputs = dict(tuple(map(int, line.split()[1:3])) for line in text.splitlines() if line.startswith("input "))
    return {t: inputs.get(t, t) for t in map(int, re.split("[,+]", args[args.index("-t") + 1]))}


def settled_searches(searches, cables):
    """Each search of a run as (cable's voltage and tone, "query ..."):
    only a cable's own tuner sets it."""
    setting, settled = {}, []
    for line in searches:
        tuner, what = line.split(": ", 1)
        cable = cables.get(int(tuner), int(tuner))
        if what.startswith(("voltage ", "tone ")) and cable == int(tuner):
            setting.setdefault(cable, {})[what.split()[0]] = what
        elif what.startswith("query "):
            settled.append((tuple(sorted(setting.get(cable, {}).values())), what))
    return settled


def answers_on_every_cable(description, settled, cables):
    """The kernel's driver model loaded with the answer to each search on
    every cable the scan drives, under the setting it was made with: the
    tuners take the sweeps as they come free, so on the kernel another
    tuner may search what one searched on the preload. The answers depend
    on no order (switch commands, whose count depends on it, are not for
    this)."""
    queries = [f"{cable}: {line}" for cable in sorted(set(cables.values()))
               for setting, query in dict.fromkeys(settled) for line in (*setting, query)]
    table = subprocess.run([f"{RECEIVER}/bin/simrx-steps", description, "--answers"], input="\n".join(queries) + "\n",
                           capture_output=True, text=True, check=True).stdout
    load_table(table)


def check_skyscan_tuners(name, text, args, searching):
    """skyscan on several tuners at once, on the preload and then on the
    kernel: the same output as a set of lines (the tuners' lines interleave
    differently on a real kernel), exit status 0 on both, the same nodes
    opened, every request line naming its node as the kernel does, the
    given number of tuners searching, and every search of the kernel's run
    answered by the model. Tuners on one single cable are not for this:
    their answers depend on how the tuners' commands interleave."""
    with tempfile.NamedTemporaryFile("w", suffix=".sat", delete=False) as f:
        f.write(text)
    cables = cables_of(text, args)
    user, user_log = run_on_preload(f.name, None, args, SKYSCAN)
    user_searches = searches_made(user_log)
    problems = [f"the preload's run sent {line}" for line in user_searches if line.split()[1] in ("diseqc", "burst")]
    settled = settled_searches(user_searches, cables)
    kernel, kernel_log, runs = answered_run(f.name, args, settled, cables)
    os.unlink(f.name)
    for what in ("stdout", "stderr"):
        seen = [sorted(getattr(r, what).splitlines()) for r in (user, kernel)]
        if seen[0] != seen[1]:
            problems.append(f"{what} lines: {seen[1]!r} on the kernel, {seen[0]!r} on the preload")
    if (user.returncode, kernel.returncode) != (0, 0):
        problems.append(f"exit status {kernel.returncode} on the kernel, {user.returncode} on the preload")
    nodes = [sorted(line for line in log if line.startswith(("open /dev/", "close /dev/")))
             for log in (user_log, kernel_log)]
    if nodes[0] != nodes[1]:
        problems.append(f"nodes opened and closed:\n  kernel  {nodes[1]}\n  preload {nodes[0]}")
    for side, log in (("preload", user_log), ("kernel", kernel_log)):
        problems += [f"{side}: {problem}" for problem in attribute(log)[1]]
    kernel_searches = searches_made(kernel_log)
    searched = {int(line.split(":")[0]) for line in kernel_searches if " query " in line}
    if len(searched) != searching:
        problems.append(f"tuners {sorted(searched)} searched on the kernel, not {searching}")
    unanswered = set(settled_searches(kernel_searches, cables)) - set(settled)
    problems += [f"the kernel's last run searched {query} at {setting}, not answered" for setting, query in
                 sorted(unanswered)[:5]]
    return report(name, kernel, kernel_log, problems, f", {runs} run{'s' if runs > 1 else ''} on the kernel")


def answered_run(description, args, settled, cables, tries=4):
    """skyscan on the kernel until a run makes no search that is not
    answered: which carriers are known when decides the windows searched
    beside them, and that is up to the kernel's scheduling. Each run's new
    windows are answered (adds to settled) for the next."""
    for run in range(1, tries + 1):
        answers_on_every_cable(description, settled, cables)
        kernel, kernel_log = run_on_kernel(description, None, args, None, SKYSCAN)
        new = set(settled_searches(searches_made(kernel_log), cables)) - set(settled)
        if not new or run == tries:
            return kernel, kernel_log, run
        settled += sorted(new)


def compare(user, user_log, kernel, kernel_log):
    problems = []
    for what in ("stdout", "stderr", "returncode"):
        if getattr(user, what) != getattr(kernel, what):
            problems.append(f"{what}: {getattr(kernel, what)!r} on the kernel, {getattr(user, what)!r} on the preload")
    seen_by_driver = [line for line in user_log if line.startswith(DRIVER_SEES)]
    kernel_seen = [line for line in kernel_log if line.startswith(DRIVER_SEES)]
    if kernel_seen != seen_by_driver:
        problems.append("driver log differs:\n  kernel  " + "\n  kernel  ".join(kernel_seen)
                        + "\n  preload " + "\n  preload ".join(seen_by_driver))
    listing_reads = (user_log.count("popen cat /proc/bus/nim_sockets -> ok"),
                     kernel_log.count("open /proc/bus/nim_sockets -> ok"))
    if listing_reads[0] != listing_reads[1]:
        problems.append(f"listing read {listing_reads[1]} times on the kernel, {listing_reads[0]} on the preload")
    return problems


def report(name, kernel, kernel_log, problems, detail=""):
    kernel_seen = [line for line in kernel_log if line.startswith(DRIVER_SEES)]
    lines = kernel.stderr.count(b"\n") + kernel.stdout.count(b"OK ")
    result = "PASS" if not problems else "FAIL"
    print(f"MALTA case {name}: {result} ({lines} result lines, {len(kernel_seen)} driver events{detail})", flush=True)
    for problem in problems:
        print("MALTA   " + problem.replace("\n", "\nMALTA   "), flush=True)
    return not problems


def install_packages():
    """dpkg -i of every package; each must then be recorded as installed
    with exactly its files, and each file must be there."""
    packages = sorted(os.path.join("/packages", name) for name in os.listdir("/packages"))
    done = subprocess.run(["/bin/busybox", "dpkg", "-i", *packages], capture_output=True, text=True, timeout=300)
    problems = [] if done.returncode == 0 else [f"dpkg -i exited {done.returncode}: {done.stderr.strip()}"]
    for package, files in PACKAGE_FILES.items():
        try:
            with open(f"/var/lib/dpkg/info/{package}.list") as f:
                listed = {line.strip() for line in f}
        except OSError:
            problems.append(f"{package} is not installed")
            continue
        problems += [f"{package} misses {path}" for path in files if path not in listed or not os.path.isfile(path)]
    version = subprocess.run(["/usr/bin/skylist", "--version"], capture_output=True, text=True, timeout=60)
    if version.returncode != 0 or not version.stdout.startswith("skylist "):
        problems.append(f"skylist --version: {version.returncode} {version.stdout!r}")
    print(f"MALTA packages: {'PASS' if not problems else 'FAIL'} ({len(packages)} installed with dpkg)", flush=True)
    for problem in problems:
        print("MALTA   " + problem, flush=True)
    return not problems


def start_guide_crc():
    """The module's suite, started beside skysweep's cases: those mostly
    wait for the tool's 2-second pause, while this one computes. The image's
    interpreter is Debian's, which does not search site-packages itself."""
    return subprocess.Popen(["/usr/bin/python3.11", "-B", "-m", "unittest", "test_zarvocrc"],
                            cwd=f"{RECEIVER}/tests/crcmodule", env={"PYTHONPATH": SITE_PACKAGES},
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def check_guide_crc(suite):
    _, stderr = suite.communicate(timeout=900)
    summary = [line for line in stderr.splitlines() if line.startswith(("Ran ", "OK", "FAILED"))]
    print(f"MALTA zarvocrc: {'PASS' if suite.returncode == 0 else 'FAIL'} ({'; '.join(summary)})", flush=True)
    if suite.returncode != 0:
        print("MALTA   " + stderr.replace("\n", "\nMALTA   "), flush=True)
    return suite.returncode == 0


def run_standby_tool():
    """wakenap's real sequence; its reboot ends the machine, so init's
    shutdown step reports what happened."""
    with open("/proc/simrx/receiver", "w") as f:
        f.write("reset\n")
    env = {"PATH": f"{RECEIVER}/standins:/bin:/sbin", "WAKENAP_TRACE": "1"}
    print("MALTA wakenap: starting", flush=True)
    done = subprocess.run(["/usr/bin/wakenap"], env=env, capture_output=True, text=True, timeout=120)
    with open("/tmp/wakenap.status", "w") as f:
        f.write(f"MALTA wakenap exit {done.returncode}\n")
        for line in done.stderr.splitlines():
            f.write(f"MALTA wakenap stderr {line}\n")


def main():
    if not install_packages():
        # The cases would run what is not there: stop here, and say so.
        print("MALTA summary: 0 passed, 1 failed", flush=True)
        os.system("/bin/busybox reboot")
        while True:
            signal.pause()
    suite = start_guide_crc()
    passed = [True] + [check_case(*case) for case in CASES]  # the packages, then skysweep's cases
    passed += [check_skyscan_case(*case) for case in SKYSCAN_CASES]
    passed += [check_skyscan_tuners(*case) for case in SKYSCAN_TUNER_CASES]
    passed += [check_concurrent_searches(DEFAULT_SAT), check_busy_tuner()]
    passed.append(check_guide_crc(suite))
    print(f"MALTA summary: {sum(passed)} passed, {len(passed) - sum(passed)} failed", flush=True)
    run_standby_tool()
    while True:  # until init restarts the machine
        signal.pause()


if __name__ == "__main__":
    sys.exit(main())
