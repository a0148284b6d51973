"""skysweep under valgrind --track-fds=yes: on every path out of the tool the
listing pipe and the blind-scan device are closed, and nothing else is left
open but the standard streams (and the simulator's own request log)."""
import glob
import os
import re
import subprocess
import tempfile
import unittest

SKYSWEEP = os.environ["SKYSWEEP"]
SIMRX = os.environ["SIMRX"]

SATELLITE = "tuner 0 DVB-S2 DVB-S2 NIM\ntuner 1 DVB-C DVB-C NIM\nresult at=1000 1000000000 22000000 6 9 2 2 0 0\n"

PATHS = [
    # name, extra description, arguments
    ("usage", "", []),
    ("missing frontend", "", [950, 960, 2, 45, 0, 0, 5]),
    ("cable tuner", "", [950, 960, 2, 45, 0, 0, 1]),
    ("listing cannot start", "fault listing\n", [950, 960]),
    ("device cannot open", "fault open\n", [950, 960]),
    ("sweep", "", [990, 1020]),
    ("sweep with failing requests", "fault request=3\n", [990, 1020]),
]


def opened_in_process(text):
    """(fd, what) for each descriptor open at exit that the process opened
    itself; those inherited from whoever started it are not its doing."""
    found = re.findall(r"Open (?:file descriptor|AF_UNIX socket) (\d+): ?(.*)\n==\d+==\s+(.*)", text)
    return [(int(fd), what) for fd, what, origin in found if "inherited from parent" not in origin]


def tool_report(folder):
    """The report of the tool itself: valgrind also names a log for each
    forked child that then runs the (untraced) shell."""
    reports = []
    for path in glob.glob(os.path.join(folder, "vg.*")):
        with open(path) as f:
            text = f.read()
        if "FILE DESCRIPTORS:" in text:
            reports.append(text)
    return reports


class Descriptors(unittest.TestCase):
    def test_nothing_is_left_open_on_any_path(self):
        for name, extra, args in PATHS:
            with self.subTest(path=name), tempfile.TemporaryDirectory() as tmp:
                sat = os.path.join(tmp, "rx.sat")
                with open(sat, "w") as f:
                    f.write(SATELLITE + extra)
                env = dict(os.environ, SIMRX_WRAPPER=f"valgrind -q --track-fds=yes --log-file={tmp}/vg.%p")
                done = subprocess.run([SIMRX, "-s", sat, "-d", tmp, SKYSWEEP, *map(str, args)],
                                      env=env, capture_output=True, timeout=120)
                self.assertEqual(done.returncode, 0, done.stderr)
                reports = tool_report(tmp)
                self.assertEqual(len(reports), 1)
                left = [(fd, what) for fd, what in opened_in_process(reports[0]) if not what.endswith("/requests.log")]
                self.assertEqual(left, [])
                with open(os.path.join(tmp, "requests.log")) as f:
                    self.assertTrue(f.read().startswith("simrx: ready"))  # the simulator was there


if __name__ == "__main__":
    unittest.main()
