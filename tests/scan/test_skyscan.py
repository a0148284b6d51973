"""skyscan run against the simulated receiver: the carriers it lists, the
LNB requests it makes, its summary and its exit status."""
import os
import pty
import random
import re
import signal
import subprocess
import tempfile
import time
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scan"))
import plugin_progress  # noqa: E402  the plugin-style reader of the events

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")

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
    def __init__(self, args=(), sat=DEFAULT_SAT, text=None, simrx=(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                 pass_fds=()):
        with tempfile.TemporaryDirectory() as rundir:
            if text is not None:
                sat = os.path.join(rundir, "receiver.sat")
                with open(sat, "w") as f:
                    f.write(text)
            done = subprocess.run([SIMRX, "-s", sat, "-d", rundir, *simrx, SKYSCAN, *args], stdout=stdout,
                                  stderr=stderr, text=True, timeout=120, pass_fds=pass_fds)
            self.status, self.stdout, self.stderr = done.returncode, done.stdout or "", done.stderr or ""
            with open(os.path.join(rundir, "requests.log")) as f:
                self.log = f.read().splitlines()
            self.carriers = carriers_in_view(rundir) if os.path.exists(os.path.join(rundir, "carriers")) else []
            costs = []  # none from a tool killed by a signal
            if os.path.exists(os.path.join(rundir, "cost")):
                with open(os.path.join(rundir, "cost")) as f:
                    costs = [dict(word.split("=") for word in line.split()) for line in f]
            self.searches = sum(int(c["searches"]) for c in costs)
            self.modelled_s = sum(int(c["modelled_ms"]) for c in costs) // 1000

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
        one_rate = Scan(["-q", "-p", "h", "-b", "low", "-s", "27-27"], text=SATELLITE_TUNER + "tp 11000000 H 27000000 "
                        "DVB-S QPSK 3/4 0.35 off off\n")
        self.assertEqual((one_rate.status, len(one_rate.listed())), (0, 1))
        self.assertEqual({tuple(line.split()[3:5]) for line in one_rate.log if line.startswith("ioctl BS_SET_PARAMS")},
                         {("27000000", "27000000")})


def on_a_terminal(args, text):
    """What a scan shows on standard error when that is a terminal."""
    with tempfile.TemporaryDirectory() as rundir:
        sat = os.path.join(rundir, "receiver.sat")
        with open(sat, "w") as f:
            f.write(text)
        try:
            leader, terminal = pty.openpty()
        except OSError as e:  # a root without /dev/pts (a fresh chroot)
            raise unittest.SkipTest(f"no pseudo-terminal here: {e}")
        scan = subprocess.Popen([SIMRX, "-s", sat, "-d", rundir, SKYSCAN, *args], stdout=subprocess.DEVNULL,
                                stderr=terminal)
        os.close(terminal)
        shown = b""
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # the terminal's last writer is gone
                break
            if not chunk:
                break
            shown += chunk
        os.close(leader)
        scan.wait(timeout=60)
        return shown.decode()


def hidden_narrow_carriers():
    """In each band and polarisation, a narrow carrier just below a wider one
    in the band's first window: both demodulator models lock the wider one
    there, and the narrow one hides in a 2.1 MHz gap that only the narrowest
    round of gap searches reaches."""
    text = SATELLITE_TUNER + "jitter off\n"
    for pol in "HV":
        for band_start in (10700000, 11800000):
            text += f"tp {band_start + 1000} {pol} 2000000 DVB-S2 QPSK 3/4 0.20 on auto\n" \
                    f"tp {band_start + 7500} {pol} 8000000 DVB-S2 8PSK 3/4 0.35 on auto\n"
    return text


def crowded_band(seed=7):
    """Seventy carriers of mixed widths packed into the horizontal low band."""
    rng, text, edge = random.Random(seed), SATELLITE_TUNER, 10702000
    while True:
        rate = rng.choice([2000, 2500, 3000, 4000, 6000, 8000, 12000, 22000, 27500])
        half = rate * 135 // 200
        if edge + 2 * half > 11700000:
            return text
        text += f"tp {edge + half} H {rate}000 DVB-S2 8PSK 3/4 0.35 on auto\n"
        edge += 2 * half + rng.choice([0, 0, 500, 2000, 2500, 3000])


class HiddenCarriers(unittest.TestCase):
    def test_gap_searches_find_narrow_carriers_in_every_band_and_polarisation(self):
        for args in ([], ["-b", "both"]):
            for simrx in (["-m", "nearest"], ["-m", "wider"], ["-m", "nearest", "-r", "half"]):
                with self.subTest(args=args, simrx=simrx):
                    scan = Scan(["-q", *args], text=hidden_narrow_carriers(), simrx=simrx)
                    self.assertEqual(scan.status, 0)
                    self.assertEqual(scan.listed(), scan.carriers)  # each on its own lane, none twice

    def test_a_crowded_band_keeps_to_the_plain_sweeps_searches(self):
        for preference in ("nearest", "wider"):
            with self.subTest(preference):
                scan = Scan(["-q", "-p", "h", "-b", "low"], text=crowded_band(), simrx=["-m", preference])
                self.assertEqual(sorted(nearest_carrier(scan.carriers, *c) for c in scan.listed()), scan.carriers)
                self.assertLessEqual(scan.searches, 120)


class Summary(unittest.TestCase):
    def test_one_summary_line_at_the_end_with_the_time_a_receiver_takes(self):
        scan = Scan()
        found = re.fullmatch(r"skyscan: 32 carriers in 4 sweeps, ([0-9]+) searches, ([0-9]+):([0-9]{2})\n", scan.stderr)
        self.assertIsNotNone(found, scan.stderr)
        self.assertEqual(int(found[1]), scan.searches)
        # The simulated receiver's clock runs on its modelled time.
        self.assertAlmostEqual(int(found[2]) * 60 + int(found[3]), scan.modelled_s, delta=1)
        self.assertGreater(scan.modelled_s, 300)

    def test_quiet_leaves_standard_error_to_errors(self):
        self.assertEqual(Scan(["--quiet"]).stderr, "")
        self.assertEqual(on_a_terminal(["-q", "-p", "h", "-b", "low"], SATELLITE_TUNER + "tp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"), "")

    def test_progress_names_sweeps_as_the_lnb_has_them(self):
        text = SATELLITE_TUNER + "tp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
        universal, single = on_a_terminal(["-p", "h"], text), on_a_terminal(["-p", "h", "-l", "10000"], text)
        self.assertIn("sweep 1/2 horizontal low band: ", universal)
        self.assertIn("sweep 2/2 horizontal high band: ", universal)
        self.assertIn("sweep 1/1 horizontal: ", single)
        self.assertNotIn("band", single)

    def test_implausible_driver_results_are_counted_down_to_one(self):
        nonsense = "result at=1000 1000000000 99000000 6 9 2 2 0 0\n"  # 99 Msym/s, outside 2-45
        scan = Scan(["-p", "h", "-b", "low"], text=SATELLITE_TUNER + nonsense)
        self.assertEqual((scan.status, scan.stdout), (0, ""))
        self.assertIn("skyscan: 1 implausible driver result dropped\n", scan.stderr)

    def test_refused_windows_are_named_in_the_summary_of_a_scan_that_ran(self):
        scan = Scan(["-p", "h", "-b", "low"], text=SATELLITE_TUNER + "fault request=1 at=1000\n")
        self.assertEqual(scan.status, 0)
        self.assertIn("skyscan: the driver refused 1 of 100 search windows (request 1 failed); they were not searched\n",
                      scan.stderr)

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
            ("tuner missing from the list", ["-t", "1"], SATELLITE_TUNER + "frontend 1\n",
             "skyscan: tuner 1 is not in the tuner list /proc/bus/nim_sockets\n"),
            ("unreadable tuner list", [], SATELLITE_TUNER + "fault listing\n",
             "skyscan: cannot read the tuner list (cat /proc/bus/nim_sockets failed)\n"),
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
        # Its own line alone, quiet or not: no empty-sky hint beside it.
        for args in ([], ["-q"]):
            with self.subTest(args=args):
                scan = Scan(args, text=SATELLITE_TUNER + "fault request=1 ret=-22\n")
                self.assertEqual(scan.status, 1)
                self.assertEqual(scan.stderr,
                                 "skyscan: the driver refused every search window (request 1 failed 410 times)\n")

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
        # Standard error is no terminal here: no escape codes in the log.
        self.assertEqual((scan.returncode, stderr), (130, b"skyscan: interrupted\n"))

    def test_command_line_errors_exit_2(self):
        for args in (["-f", "12000-11000"], ["-s", "0-45"], ["-p", "x"], ["-b", "mid"], ["-t", "9"], ["-d", "E"],
                     ["-d", "B,C"], ["-d", "U17"], ["-u", "50494:9:1210"], ["-u", "50607:1:900"], ["-u", "50607:1:2131"],
                     ["-u", "50494:1:1210:3"], ["-u", "50607:1:1210:65"], ["-u", "50607:1:1210:1:256"],
                     ["-u", "50000:1:1210"], ["-u", "50494:1"], ["-u", "50494:1:1210:1:1:1"],
                     ["-u", "50494:1:1210", "-l", "10750"],
                     ["-l", "9750/10600"], ["extra"], ["--frequency=1"], ["-x"], ["-f"], ["-t", "8"]):
            with self.subTest(args=args):
                scan = Scan(args, text=SATELLITE_TUNER)
                self.assertEqual(scan.status, 2)
                self.assertTrue(scan.stderr.startswith("skyscan: "), scan.stderr)
                self.assertIn("Try 'skyscan --help' for more information.", scan.stderr)
                self.assertFalse([line for line in scan.log if line.startswith(("open", "ioctl"))])

    def test_a_request_that_cannot_search_anything_is_refused(self):
        cases = [
            (["-f", "10000-10500"], "frequencies '10000-10500' are outside what the LNB delivers, 10700-12750 MHz"),
            (["-b", "high", "-f", "10700-11000"], "band 'high' is not reached by 10700-11000 MHz: it is 11700-12750 MHz"),
            (["-b", "low", "-f", "11800-12000"], "band 'low' is not reached by 11800-12000 MHz: it is 10700-11700 MHz"),
            (["-l", "10750", "-f", "10700-11000"],
             "frequencies '10700-11000' are outside what the LNB delivers, 11700-12900 MHz"),
            (["-l", "5150", "-f", "10700-12750"], "frequencies '10700-12750' are outside what the LNB delivers, 3000-4200 MHz"),
            (["-l", "10750", "-b", "high"], "band 'high' does not apply: a single-oscillator LNB has one band"),
            (["-b", "low", "-l", "5150"], "band 'low' does not apply: a single-oscillator LNB has one band"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                scan = Scan(args)
                self.assertEqual((scan.status, scan.stdout), (2, ""))
                self.assertEqual(scan.stderr, f"skyscan: {message}\nTry 'skyscan --help' for more information.\n")
                self.assertFalse([line for line in scan.log if line.startswith(("open", "ioctl"))])


def without_lnb(text):
    return "".join(line for line in text.splitlines(keepends=True) if not line.startswith("lnb "))


with open(DEFAULT_SAT) as f:
    BUNDLED_EXACT = without_lnb(f.read()) + "jitter off\n"


class Switches(unittest.TestCase):
    def test_each_kind_and_a_cascade_with_its_repeats(self):
        text = SATELLITE_TUNER + "jitter off\nport B,U3\ntp 11000000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n" \
            "port mini-B\ntp 12000000 V 22000000 DVB-S2 8PSK 2/3 0.35 on auto\n"
        cases = [
            (["-d", "B,U3"], ["e0 10 38 f6", "e0 10 39 f2", "e1 10 38 f6", "e1 10 39 f2"], [], ["11000000"]),
            (["-d", "U3"], ["e0 10 39 f2"], [], []),
            (["-d", "mini-B"], [], ["SEC_MINI_B"], ["12000000"]),
            (["-d", "A,U16,mini-A"], ["e0 10 38 f2", "e0 10 39 ff", "e1 10 38 f2", "e1 10 39 ff"], ["SEC_MINI_A"], []),
        ]
        for args, messages, bursts, listed in cases:
            with self.subTest(args=args):
                scan = Scan(["-q", *args], text=text)
                first = scan.log.index("ioctl FE_SET_TONE SEC_TONE_OFF -> 0")
                sent = scan.log[first + 1:scan.log.index("ioctl FE_SET_TONE SEC_TONE_OFF -> 0", first + 1)]
                self.assertEqual([line.split(" ", 2)[2][:-5] for line in sent if "MASTER_CMD" in line], messages)
                self.assertEqual([line.split()[2] for line in sent if "BURST" in line], bursts)
                self.assertTrue(all(line == "sleep 15 ms" for line in sent if line.startswith("sleep")))
                self.assertEqual(len([line for line in sent if line.startswith("sleep")]), 1 + len(messages) + len(bursts))
                self.assertEqual([line.split()[2] for line in scan.stdout.splitlines()], listed)


class SingleCable(unittest.TestCase):
    def test_the_bundled_satellite_through_either_standard_as_received_directly(self):
        direct = sorted(Scan(["-q"], text=BUNDLED_EXACT).stdout.splitlines())
        self.assertEqual(len(direct), 32)
        for standard, band in (("50494", "1:1210"), ("50494", "8:2040:2"), ("50607", "2:1420"), ("50607", "32:2130:64")):
            with self.subTest(standard=standard, band=band):
                position = band.split(":")[2] if band.count(":") == 2 else "1"
                text = BUNDLED_EXACT.replace("tuner 1", f"cable {standard}\nuserband {band.split(':')[0]} "
                                             f"{band.split(':')[1]}\nposition {position}\ntuner 1")
                scan = Scan(["-q", "-u", f"{standard}:{band}"], text=text)
                self.assertEqual((scan.status, scan.stderr), (0, ""))
                self.assertEqual(sorted(scan.stdout.splitlines()), direct)

    def test_commands_at_18_volts_and_the_band_released_at_the_end(self):
        text = SATELLITE_TUNER + "jitter off\ncable 50494\nuserband 1 1210\n" \
            "tp 11778000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
        scan = Scan(["-q", "-u", "50494:1:1210", "-p", "h", "-b", "high"], text=text)
        frontend = [line for line in scan.log if line.startswith(("ioctl FE_", "sleep"))]
        self.assertEqual(frontend[:5], ["sleep 2", "ioctl FE_SET_VOLTAGE SEC_VOLTAGE_13 -> 0",
                                        "ioctl FE_SET_TONE SEC_TONE_OFF -> 0", "sleep 100 ms",
                                        "ioctl FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0"])
        self.assertEqual(frontend[-5:], ["ioctl FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0", "sleep 10 ms",
                                         "ioctl FE_DISEQC_SEND_MASTER_CMD e0 10 5a 00 00 -> 0", "sleep 10 ms",
                                         "ioctl FE_SET_VOLTAGE SEC_VOLTAGE_13 -> 0"])
        # Between searches the line is at 13 V; every command has its own rise and fall.
        commands = [i for i, line in enumerate(frontend) if "MASTER_CMD" in line]
        for i in commands:
            self.assertEqual(frontend[i - 2:i + 3:2], ["ioctl FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0",
                                                       frontend[i], "ioctl FE_SET_VOLTAGE SEC_VOLTAGE_13 -> 0"])
        self.assertEqual(scan.stdout.split()[1:3], ["HORIZONTAL", "11778000"])
        self.assertNotIn("FE_SET_TONE SEC_TONE_ON", " ".join(frontend))

    def test_a_protected_band_answers_its_pin_only(self):
        text = SATELLITE_TUNER + "cable 50607\nuserband 5 1680 pin=42\n" \
            "tp 11778000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
        for pin, listed in ((":1:42", 1), (":1:41", 0), ("", 0)):
            with self.subTest(pin=pin):
                scan = Scan(["-u", f"50607:5:1680{pin}", "-p", "h", "-b", "high"], text=text)
                self.assertEqual((scan.status, len(scan.stdout.splitlines())), (0, listed))
                command = "71" if pin else "70"
                self.assertTrue(all(line.split()[2] == command for line in scan.log if "MASTER_CMD" in line))

    def test_the_summary_counts_the_commands_and_says_what_cannot_come_through(self):
        text = SATELLITE_TUNER + "cable 50494\nuserband 3 1420\ntp 11778000 H 27500000 DVB-S QPSK 3/4 0.35 off off\n"
        scan = Scan(["-u", "50494:3:1420", "-p", "h", "-b", "high"], text=text)
        commands = len([line for line in scan.log if "MASTER_CMD" in line]) - 1  # the release is not counted
        self.assertRegex(scan.stderr, r"^skyscan: 1 carrier in 1 sweep, [0-9]+ searches, [0-9]+:[0-9]{2}\n"
                         rf"skyscan: through user band 3 at 1420 MHz, {commands} commands; above 40 Msym/s no "
                         r"carrier comes through its 40 MHz whole, none was sought\n$")
        scan = Scan(["-u", "50494:3:1420", "-p", "h", "-b", "high", "-s", "2-30"], text=text)
        self.assertNotIn("above 40", scan.stderr)


class LostOutput(unittest.TestCase):
    def test_a_result_line_that_cannot_be_written_ends_the_scan(self):
        with open("/dev/full", "w") as full:
            scan = Scan(stdout=full)
        self.assertEqual((scan.status, scan.stderr), (1, "skyscan: cannot write the results: No space left on device\n"))
        # It stops at the first carrier: no search after the one that found it.
        searches = [line for line in scan.log if line.startswith(("ioctl BS_SET_PARAMS", "ioctl BS_GET_RESULT"))]
        self.assertTrue(searches[-1].startswith("ioctl BS_GET_RESULT -> 0"), searches[-1])
        self.assertEqual(len([line for line in searches if line.startswith("ioctl BS_GET_RESULT -> 0")]), 1)

    def test_a_reader_that_goes_away_ends_it_as_pipes_do(self):
        reader, writer = os.pipe()
        os.close(reader)
        scan = Scan(stdout=writer)
        os.close(writer)
        self.assertEqual((scan.status, scan.stderr), (-signal.SIGPIPE, ""))


if __name__ == "__main__":
    unittest.main()


def bundled_with_tuner_2(wiring=""):
    """The bundled satellite with a second satellite tuner, 2."""
    with open(DEFAULT_SAT) as f:
        return f.read() + "tuner 2 DVB-S2 DVB-S2 NIM (internal)\n" + wiring


def readme_events():
    """The example under "Progress events" in the README."""
    with open(README) as f:
        text = f.read()
    block = text.split("#### Progress events", 1)[1].split("```", 2)[1]
    return [line for line in block.splitlines() if line]


def field_names(lines):
    return {word: list(fields) for word, fields in map(plugin_progress.parse_event, lines)}


class ProgressEvents(unittest.TestCase):
    """The events, read back as a plugin reads them."""

    def scan_with_events(self, args, text=None):
        with tempfile.TemporaryFile("w+") as events:
            scan = Scan([*args, "-e", str(events.fileno())], text=text, pass_fds=(events.fileno(),))
            events.seek(0)
            return scan, events.read().splitlines()

    def test_the_readme_example_reads_back_and_draws_a_whole_bar(self):
        lines = readme_events()
        self.assertEqual([plugin_progress.parse_event(line)[0] for line in lines], ["PROGRESS"] * 3 + ["DONE"])
        with tempfile.NamedTemporaryFile("w", suffix=".events") as f:
            f.write("\n".join(lines) + "\n")
            f.flush()
            drawn = subprocess.run([sys.executable, plugin_progress.__file__, "--width", "10", "--replay", f.name],
                                   capture_output=True, text=True)
        self.assertEqual(drawn.returncode, 0)
        self.assertTrue(drawn.stdout.rstrip().endswith("[##########] 100% 32 found, done"), drawn.stdout)

    def test_a_scan_writes_them_as_documented_at_a_bounded_rate(self):
        for args in (["-q"], ["-q", "-t", "0,2"], ["-q", "-t", "0+2"]):
            with self.subTest(args=args):
                text = None if "-t" not in args else bundled_with_tuner_2("input 2 0\n" if "0+2" in args else "")
                scan, lines = self.scan_with_events(args, text)
                self.assertEqual(scan.status, 0, scan.stderr)
                events = [plugin_progress.parse_event(line) for line in lines]
                self.assertNotIn(None, events, lines)
                self.assertEqual(field_names(lines), field_names(readme_events()))
                progress, (last_word, done) = events[:-1], events[-1]
                self.assertEqual((last_word, done["found"], done["status"]), ("DONE", len(scan.listed()), 0))
                self.assertEqual(done["searches"], scan.searches)
                seconds = [fields["seconds"] for _, fields in progress]
                self.assertEqual(seconds, sorted(seconds))
                self.assertLessEqual(len(progress), done["seconds"] + 2)
                self.assertGreater(len(progress), done["seconds"] // 2)
                self.assertTrue(all(0 < f["left"] or f["left"] in (0, -1) for _, f in progress))

    def test_the_plugin_reader_draws_a_live_scan_to_the_end(self):
        with tempfile.TemporaryDirectory() as rundir:
            drawn = subprocess.run([sys.executable, plugin_progress.__file__, "--width", "10", "--", SIMRX, "-s",
                                    DEFAULT_SAT, "-d", rundir, SKYSCAN, "-q"], capture_output=True, timeout=120)
        # Read as bytes: text mode would turn the bar's carriage returns into new lines.
        bar_line, *results = drawn.stdout.decode().split("\n")
        bar_line = bar_line.split("\r")[-1]  # the bar as last drawn
        self.assertEqual(drawn.returncode, 0, drawn.stderr)
        self.assertEqual(bar_line, "[##########] 100% 32 found, done")
        self.assertEqual(len([line for line in results if line.startswith("OK ")]), 32)


def same_carriers(test, one, many):
    """Every line of `one` has one line of `many` the merge rule takes for it, and no line is left over."""
    test.assertEqual(len(many), len(one))
    for pol, khz, rate in one:
        partners = [m for m in many if m[0] == pol and 4000 * abs(m[1] - khz) < rate + m[2]]
        test.assertEqual(len(partners), 1, (pol, khz))


def carriers_of(scan):
    return [(line.split()[1], int(line.split()[2]), int(line.split()[3])) for line in scan.stdout.splitlines()]


class SeveralTuners(unittest.TestCase):
    """Tuners wired as receivers wire them: what is scanned, on which, and what is left alone."""

    @classmethod
    def setUpClass(cls):
        cls.one = Scan(["-q"])

    def test_tuners_list_the_carriers_one_tuner_lists_in_a_fraction_of_its_time(self):
        four = "tuner 3 DVB-S2 DVB-S2 NIM\n"
        for args, wiring, share in ((["-t", "0,2"], "", 0.55), (["-t", "0+2"], "input 2 0\n", 0.55),
                                    (["-t", "2,0,3"], four, 0.40), (["-t", "0,1,2,3"], four, 0.30),
                                    (["-t", "0+1+2+3"], four + "input 1 0\ninput 2 0\ninput 3 0\n", 0.30)):
            with self.subTest(args=args):
                text = bundled_with_tuner_2(wiring).replace("tuner 1 DVB-C", "tuner 1 DVB-S2")
                scan = Scan(args, text=text)
                self.assertEqual(scan.status, 0, scan.stderr)
                same_carriers(self, carriers_of(self.one), carriers_of(scan))
                tuners = len(args[1].replace("+", ",").split(","))
                self.assertRegex(scan.stderr, rf"^skyscan: 32 carriers in 4 sweeps on {tuners} tuners, \d+ searches, ")
                # (A follower's own LNB requests change nothing here: had the
                # cable been set through it, the list would be wrong.)
                self.assertLess(scan.modelled_s, share * self.one.modelled_s)

    def test_a_busy_tuner_is_left_out_and_the_others_scan(self):
        scan = Scan(["-q", "-t", "0,2"], text=bundled_with_tuner_2("busy 2\n"))
        self.assertEqual(scan.status, 0)
        self.assertEqual(scan.stderr, "skyscan: tuner 2 is in use (another program, such as the receiver's menu, may "
                                      "be watching it); it is left out\n")
        same_carriers(self, carriers_of(self.one), carriers_of(scan))

    def test_a_busy_tuner_keeps_its_cable_as_it_is_and_only_that_is_scanned(self):
        for held, sweep in (("lnb high V", "vertical high band"), ("lnb low H", "horizontal low band")):
            with self.subTest(held=held):
                text = bundled_with_tuner_2("input 2 0\nbusy 0\n").replace("lnb low H", held)
                scan = Scan(["-t", "0+2"], text=text)
                self.assertEqual(scan.status, 0, scan.stderr)
                self.assertIn(f"skyscan: tuner 0 shares its cable and holds it at {sweep}: only that sweep is scanned "
                              "there\n", scan.stderr)
                self.assertRegex(scan.stderr, r"skyscan: \d+ carriers in 1 sweep on 2 tuners")
                self.assertEqual([line for line in scan.log if " FE_SET" in line or " FE_DISEQC" in line], [])
                pol, band = held.split()[2][0], held.split()[1]
                expected = [c for c in carriers_of(self.one) if c[0][0] == pol and (c[1] >= 11700000) == (band == "high")]
                same_carriers(self, expected, carriers_of(scan))

    def test_nothing_to_scan_when_every_tuner_is_busy(self):
        scan = Scan(["-q", "-t", "0+2"], text=bundled_with_tuner_2("input 2 0\nbusy 0\nbusy 2\n"))
        self.assertEqual((scan.status, scan.stdout), (1, ""))
        self.assertTrue(scan.stderr.endswith("skyscan: none of the tuners given can scan now\n"), scan.stderr)

    def test_each_tuner_on_a_single_cable_commands_its_own_user_band(self):
        text = BUNDLED_EXACT.replace("tuner 1", "cable 50607\nuserband 1 1210\nuserband 2 1420\n"
                                     "tuner 2 DVB-S2 DVB-S2 NIM\ntuner 1")
        scan = Scan(["-q", "-t", "0,2", "-u", "50607:1:1210", "-u", "50607:2:1420"], text=text)
        self.assertEqual((scan.status, scan.stderr), (0, ""))
        self.assertEqual(sorted(scan.stdout.splitlines()), sorted(Scan(["-q"], text=BUNDLED_EXACT).stdout.splitlines()))
        # EN 50607's "70" command: the user band, from 0, in the top five bits of the next byte.
        commands = [line.split("MASTER_CMD ")[1].split() for line in scan.log if "MASTER_CMD 70" in line]
        bands = {int(words[1], 16) >> 3 for words in commands}
        self.assertEqual(bands, {0, 1})

    def test_tuner_lists_that_cannot_work_are_refused(self):
        for args, message in (
                (["-t", "0,0"], "skyscan: tuners '0,0' are not tuner numbers 0 to 7, each once, joined by , or +\n"),
                (["-t", "0,8"], "skyscan: tuners '0,8' are not tuner numbers 0 to 7, each once, joined by , or +\n"),
                (["-t", "0,2", "-u", "50494:1:1210"], "skyscan: user band '50494:1:1210' is one of 1; each of the 2 "
                                                     "tuners needs one, and none loops through\n"),
                (["-e", "99"], "skyscan: events '99' are not an open file descriptor\n")):
            with self.subTest(args=args):
                scan = Scan(args, text=bundled_with_tuner_2())
                self.assertEqual((scan.status, scan.stderr), (2, message + "Try 'skyscan --help' for more information.\n"))
