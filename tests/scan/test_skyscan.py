"""skyscan run against the simulated receiver: the carriers it lists, the
LNB requests it makes, its summary and its exit status."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

SKYSCAN = os.environ["SKYSCAN"]
SKYLIST = [*os.environ.get("SKYLIST_EMULATOR", "").split(), os.environ["SKYLIST"]]
SIMRX = os.environ["SIMRX"]
DEFAULT_SAT = os.environ["SIMRX_DEFAULT_SAT"]

SATELLITE_TUNER = "tuner 0 DVB-S2 DVB-S2 NIM (internal)\n"


def carriers_in_view(rundir):
    with open(os.path.join(rundir, "carriers")) as f:
        return sorted((int(line.split()[1]), line.split()[2][0]) for line in f if line.startswith("carrier "))


def nearest_carrier(carriers, khz, pol):
    best = min((c for c in carriers if c[1] == pol), key=lambda c: abs(c[0] - khz), default=None)
    return best if best is not None and abs(best[0] - khz) < 2000 else None


class Scan:
    def __init__(self, args=(), sat=DEFAULT_SAT, text=None, simrx=()):
        with tempfile.TemporaryDirectory() as rundir:
            if text is not None:
                sat = os.path.join(rundir, "receiver.sat")
                with open(sat, "w") as f:
                    f.write(text)
            done = subprocess.run([SIMRX, "-s", sat, "-d", rundir, *simrx, SKYSCAN, *args], capture_output=True,
                                  text=True, timeout=120)
            self.status, self.stdout, self.stderr = done.returncode, done.stdout, done.stderr
            with open(os.path.join(rundir, "requests.log")) as f:
                self.log = f.read().splitlines()
            self.carriers = carriers_in_view(rundir) if os.path.exists(os.path.join(rundir, "carriers")) else []
            with open(os.path.join(rundir, "cost")) as f:
                self.searches = sum(int(line.split()[0].split("=")[1]) for line in f)

    def listed(self):
        return sorted((int(line.split()[2]), line.split()[1][0]) for line in self.stdout.splitlines())


class WholeSatellite(unittest.TestCase):
    def test_lists_every_carrier_of_the_bundled_satellite_once_whatever_the_lnb_was_left_at(self):
        for simrx in ([], ["-m", "wider"], ["-l", "high V"], ["-r", "half", "-m", "wider"]):
            with self.subTest(simrx=simrx):
                scan = Scan(["-q"], simrx=simrx)
                self.assertEqual(scan.status, 0)
                self.assertEqual(scan.stderr, "")
                listed = scan.listed()
                self.assertEqual(len(listed), 32)
                self.assertEqual(sorted(nearest_carrier(scan.carriers, *c) for c in listed), scan.carriers)
                self.assertLess(scan.searches, 480)

    def test_lines_are_skysweeps_and_skylist_reads_them(self):
        scan = Scan(["-q"])
        for line in scan.stdout.splitlines():
            self.assertRegex(line, r"^OK (HORIZONTAL|VERTICAL) [1-9][0-9]{7} [1-9][0-9]*000( [A-Z0-9_-]+){6}$")
        listed = subprocess.run([*SKYLIST, "-f", "jsonl"], input=scan.stdout, capture_output=True, text=True)
        self.assertEqual((listed.returncode, len(listed.stdout.splitlines())), (0, 32))

    def test_sets_voltage_and_tone_before_each_sweep_and_the_port_first(self):
        text = SATELLITE_TUNER + "jitter off\nport A\ntp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n" \
            "port B\ntp 12000000 V 22000000 DVB-S2 8PSK 2/3 0.35 on auto\n"
        lnb = [line for line in Scan(["-q", "-d", "B"], text=text).log if line.startswith("ioctl FE_")]
        self.assertEqual(lnb[:5], ["ioctl FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0", "ioctl FE_SET_TONE SEC_TONE_OFF -> 0",
                                   "ioctl FE_DISEQC_SEND_MASTER_CMD e0 10 38 f6 -> 0",
                                   "ioctl FE_SET_TONE SEC_TONE_OFF -> 0", "ioctl FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0"])
        self.assertIn("ioctl FE_DISEQC_SEND_MASTER_CMD e0 10 38 f5 -> 0", lnb)  # vertical, high band, port B
        self.assertEqual([line.split()[1:3] for line in Scan(["-q", "-d", "B"], text=text).stdout.splitlines()],
                         [["VERTICAL", "12000000"]])
        self.assertEqual(len(Scan(["-q", "-d", "A"], text=text).stdout.splitlines()), 1)

    def test_options_narrow_the_scan(self):
        scan = Scan(["-q", "-p", "v", "-b", "low", "-f", "10700-11200", "-s", "4-30"])
        self.assertEqual({line.split()[1] for line in scan.stdout.splitlines()}, {"VERTICAL"})
        self.assertTrue(all(10700000 <= int(line.split()[2]) < 11210000 for line in scan.stdout.splitlines()))
        self.assertEqual([line for line in scan.log if "FE_SET_TONE" in line], ["ioctl FE_SET_TONE SEC_TONE_OFF -> 0"])
        windows = [int(line.split()[2]) for line in scan.log if line.startswith("ioctl BS_SET_PARAMS")]
        self.assertTrue(all(w < 1460000000 for w in windows))


class Summary(unittest.TestCase):
    def test_one_summary_line_at_the_end_unless_quiet(self):
        scan = Scan()
        self.assertRegex(scan.stderr, r"^skyscan: 32 carriers in 4 sweeps, [0-9]+ searches, 0:[0-9]{2}\n$")
        self.assertEqual(Scan(["--quiet"]).stderr, "")

    def test_an_empty_sky_is_a_scan_that_says_so(self):
        scan = Scan(text=SATELLITE_TUNER)
        self.assertEqual((scan.status, scan.stdout), (0, ""))
        self.assertIn("no carrier found in 410 searches", scan.stderr)
        self.assertIn("dish", scan.stderr)


class CannotScan(unittest.TestCase):
    def test_a_clear_error_and_status_1(self):
        cases = [
            ("no frontend node", ["-t", "3"], SATELLITE_TUNER,
             "skyscan: no frontend node /dev/dvb/adapter0/frontend3: No such file or directory\n"),
            ("cable tuner", ["-t", "1"], SATELLITE_TUNER + "tuner 1 DVB-C cable NIM\n",
             "skyscan: tuner 1 is not a satellite tuner\n"),
            ("busy frontend", [], SATELLITE_TUNER + "fault frontend open\n",
             "skyscan: cannot open /dev/dvb/adapter0/frontend0: Device or resource busy (another program, such as "
             "the receiver's menu, may be using the tuner)\n"),
            ("blind-scan device", [], SATELLITE_TUNER + "fault open\n",
             "skyscan: cannot open /dev/blindscan0: Device or resource busy (another program, such as the "
             "receiver's menu, may be using the tuner)\n"),
            ("LNB that cannot be set", [], SATELLITE_TUNER + "fault frontend lnb\n",
             "skyscan: the LNB could not be set (FE_SET_VOLTAGE): Input/output error\n"),
        ]
        for name, args, text, message in cases:
            with self.subTest(name):
                scan = Scan(args, text=text)
                self.assertEqual((scan.status, scan.stdout, scan.stderr), (1, "", message))

    def test_a_driver_that_refuses_every_window(self):
        scan = Scan(["-q"], text=SATELLITE_TUNER + "fault request=1 ret=-22\n")
        self.assertEqual(scan.status, 1)
        self.assertEqual(scan.stderr, "skyscan: the driver refused every search window (request 1 failed 410 times)\n")

    def test_an_interrupted_scan_ends_its_line(self):
        with tempfile.TemporaryDirectory() as rundir:
            sat = os.path.join(rundir, "slow.sat")
            with open(sat, "w") as f:
                f.write(SATELLITE_TUNER + "wait real\n")
            scan = subprocess.Popen([SIMRX, "-s", sat, "-d", rundir, SKYSCAN], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
            # Once it is in the real 2 s pause before the first search.
            log = os.path.join(rundir, "requests.log")
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline and not (os.path.exists(log) and "sleep 2\n" in open(log).read()):
                time.sleep(0.05)
            scan.send_signal(signal.SIGINT)
            _, stderr = scan.communicate(timeout=30)
        self.assertEqual((scan.returncode, stderr), (130, b"\r\x1b[Kskyscan: interrupted\n"))

    def test_command_line_errors_exit_2(self):
        for args in (["-f", "12000-11000"], ["-s", "0-45"], ["-p", "x"], ["-b", "mid"], ["-t", "9"], ["-d", "E"],
                     ["-l", "9750/10600"], ["extra"], ["--frequency=1"]):
            with self.subTest(args=args):
                scan = Scan(args, text=SATELLITE_TUNER)
                self.assertEqual(scan.status, 2)
                self.assertIn("Try 'skyscan --help' for more information.", scan.stderr)
                self.assertFalse([line for line in scan.log if line.startswith(("open", "ioctl"))])


if __name__ == "__main__":
    unittest.main()
