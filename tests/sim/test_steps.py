"""simrx-steps as the driver model in the kernel is loaded from it: each
tuner's wiring, and the answers of searches on several tuners, each seen
through its own cable. Usage: test_steps.py SIMRX_STEPS"""
import os
import subprocess
import sys
import tempfile

TUNERS = "".join(f"tuner {n} DVB-S2 NIM {n}\n" for n in range(3))
# One carrier per polarisation and band: H low at IF 1250 MHz, V high at 1500.
SKY = ("jitter off\ntp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
       "tp 12100000 V 22000000 DVB-S QPSK 5/6 0.35 off off\n")
H_LOW = "1250000000 2000000 45000000 1250000000 27500000 5 0 0 3 1 0"
V_HIGH = "1500000000 2000000 45000000 1500000000 22000000 5 0 0 5 1 0"

# name, description, the lines it must give (in order) or its error
WIRING = [
    ("each tuner on its own cable", TUNERS + "lnb high V\n", ["lnb V 1"]),
    ("a loop-through and a busy tuner", TUNERS + "input 2 0\nbusy 1\n", ["lnb H 0", "input 2 0", "busy 1"]),
    ("one single cable for all", TUNERS + "cable 50494\nuserband 1 1210\n", ["lnb H 0", "single cable"]),
    ("from itself", TUNERS + "input 1 1\n", "line 4: a tuner cannot take its signal from itself"),
    ("a chain, follower first", TUNERS + "input 2 1\ninput 1 0\n", "line 5: the tuner feeds another"),
    ("a chain, source first", TUNERS + "input 1 0\ninput 2 1\n",
     "line 5: the tuner it takes its signal from takes it from another"),
    ("a tuner not described", TUNERS + "busy 3\n", "line 4: no such tuner"),
    ("no tuner number", TUNERS + "input 2\n", "line 4: not understood"),
    ("a model error keeps its line number", TUNERS + "busy 0\nbogus\n", "line 5: not understood"),
]

# name, requests and searches ("T:" the tuner), the answers
ANSWERS = [
    ("cables set apart", ["1: voltage 13", "1: tone on", "query 1250000000 2000000 45000000",
                          "1: query 1500000000 2000000 45000000", "query 1500000000 2000000 45000000"],
     [f"answer 0 H 0 0 {H_LOW}", f"answer 1 V 1 0 {V_HIGH}"]),
    ("a follower sees its source's cable, its own requests reach nothing",
     ["2: voltage 13", "2: tone on", "2: query 1250000000 2000000 45000000", "voltage 13", "tone on",
      "2: query 1500000000 2000000 45000000"],
     [f"answer 0 H 0 0 {H_LOW}", f"answer 0 V 1 0 {V_HIGH}"]),
    ("switch commands counted per cable", ["1: diseqc e0 10 38 f0", "1: query 1250000000 2000000 45000000",
                                           "query 1250000000 2000000 45000000"],
     [f"answer 1 H 0 1 {H_LOW}", f"answer 0 H 0 0 {H_LOW}"]),
]


def run(steps, text, *args, queries=""):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "rx.sat")
        with open(path, "w") as f:
            f.write(text)
        done = subprocess.run([steps, path, *args], input=queries, capture_output=True, text=True, timeout=60)
        return done, path


def main(steps):
    failed = 0
    for name, text, expected in WIRING:
        done, path = run(steps, text, "--answers")
        if isinstance(expected, str):
            ok = done.returncode == 1 and done.stderr == f"simrx-steps: {path}: {expected}\n"
        else:
            wiring = ("lnb ", "input ", "busy ", "single cable")
            ok = done.returncode == 0 and [line for line in done.stdout.splitlines() if line.startswith(wiring)] == expected
        failed += not ok
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else f": {done.stdout}{done.stderr}"))
    for name, queries, expected in ANSWERS:
        done, _ = run(steps, TUNERS + "input 2 0\n" + SKY, "--answers", queries="\n".join(queries) + "\n")
        found = [line for line in done.stdout.splitlines() if line.startswith("answer ")]
        ok = done.returncode == 0 and found == expected
        failed += not ok
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else f": {found} {done.stderr}"))
    print(f"{len(WIRING) + len(ANSWERS) - failed} passed, {failed} failed")
    return int(failed > 0)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
