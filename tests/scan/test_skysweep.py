"""skysweep run against the simulated receiver: what it prints, its exit
status, and every request it makes, compared exactly."""
import os
import re
import subprocess
import tempfile
import textwrap
import unittest

SKYSWEEP = os.environ["SKYSWEEP"]
SIMRX = os.environ["SIMRX"]
DEFAULT_SAT = os.environ["SIMRX_DEFAULT_SAT"]

USAGE = (
    "usage: skysweep [options]\n"
    "       --freq=val       (default: 950)\n"
    "       --freq=val       (default: 2150)\n"
    "       --sr=val         (default: 2)\n"
    "       --sr=val         (default: 45)\n"
    "       --polar=val      (default: 0)\n"
    "       --band=val      (default: 0)\n"
    "       --bus=val\n"
)

SATELLITE_TUNER = "tuner 0 DVB-S2 DVB-S2 NIM (internal)\n"


# The driver numbers its fields as the kernel's frontend enums do. The line
# prints a member's name, without "SYS_", but for the members below; a member
# past the tool's table (a newer kernel's) has no word.
FRONTEND_H = os.environ.get("DVB_FRONTEND_H", "/usr/include/linux/dvb/frontend.h")
WORD_OF_MEMBER = {
    "PSK_8": "8PSK", "PILOT_AUTO": "PILOT_ON", "ROLLOFF_AUTO": "ROLLOFF_35",
    "SYS_DVBS": "DVB-S", "SYS_DVBS2": "DVB-S2", "SYS_DVBT": "DVB-T", "SYS_DVBT2": "DVB-T2",
    "SYS_DVBH": "DVB-H", "SYS_DVBC_ANNEX_C": "DVB-C",
}
# field: kernel enum, word position after "OK POL KHZ SR", record word, the tool's rows
WORD_FIELDS = {
    "delivery_system": ("fe_delivery_system", 0, 2, 19),
    "inversion": ("fe_spectral_inversion", 1, 4, 3),
    "pilot": ("fe_pilot", 2, 6, 3),
    "fec": ("fe_code_rate", 3, 5, 13),
    "modulation": ("fe_modulation", 4, 3, 14),
    "rolloff": ("fe_rolloff", 5, 7, 4),
}


def kernel_enum(name):
    """Members of a frontend enum with their values, in the header's order."""
    with open(FRONTEND_H) as f:
        text = re.sub(r"/\*.*?\*/|//[^\n]*", "", f.read(), flags=re.S)
    body = re.search(r"enum\s+%s\s*\{(.*?)\}" % name, text, re.S).group(1)
    members, value = {}, 0
    for item in filter(None, (m.strip() for m in body.split(","))):
        member, _, given = item.partition("=")
        value = int(given, 0) if given.strip() else value
        members[member.strip()] = value
        value += 1
    return members


def u32(value):
    return value % (1 << 32)


def opening(bus=0):
    return [
        "simrx: ready",
        f"stat /dev/dvb/adapter0/frontend{bus} -> 0",
        "popen cat /proc/bus/nim_sockets -> ok",
        "pclose",
        f"open /dev/blindscan{bus} flags=0x2 -> ok",
        "sleep 2",
    ]


def step(mhz, sr=(2, 45), words=None):
    """The requests of one step: a search that finds nothing, or the words."""
    lines = [f"ioctl BS_SET_PARAMS {u32(mhz * 1000000)} {u32(sr[0] * 1000000)} {u32(sr[1] * 1000000)} 0 0 -> 0"]
    if words is None:
        return lines + ["ioctl BS_SEARCH -> -1"]
    return lines + ["ioctl BS_SEARCH -> 0", "ioctl BS_GET_RESULT -> 0 " + " ".join(str(u32(w)) for w in words)]


def sweep(start, end, sr=(2, 45), found=None, bus=0):
    found = found or {}
    steps = []
    for mhz in range(start, end, 10):
        steps += step(mhz, sr, found.get(mhz))
    return opening(bus) + steps + [f"close /dev/blindscan{bus}"]


class Run:
    def __init__(self, description, args, stderr=subprocess.PIPE):
        with tempfile.TemporaryDirectory() as tmp:
            sat = os.path.join(tmp, "rx.sat")
            with open(sat, "w") as f:
                f.write(textwrap.dedent(description))
            done = subprocess.run([SIMRX, "-s", sat, "-d", tmp, SKYSWEEP, *map(str, args)],
                                  stdout=subprocess.PIPE, stderr=stderr, timeout=60)
            with open(os.path.join(tmp, "requests.log")) as f:
                self.log = f.read().splitlines()
            carriers = os.path.join(tmp, "carriers")
            self.carriers = []
            if os.path.exists(carriers):
                with open(carriers) as f:
                    self.carriers = [line.split() for line in f if line.startswith("carrier ")]
        self.stdout = done.stdout.decode()
        self.stderr = (done.stderr or b"").decode()
        self.status = done.returncode


class CommandLine(unittest.TestCase):
    def test_no_arguments_prints_usage_and_touches_nothing(self):
        run = Run(SATELLITE_TUNER, [])
        self.assertEqual((run.stdout, run.stderr, run.status), (USAGE, "", 0))
        self.assertEqual(run.log, ["simrx: ready"])

    def test_settings_by_position(self):
        cases = [
            # args, first step, end, symbol rates
            (["2100"], 2100, 2150, (2, 45)),
            (["950", "960"], 950, 960, (2, 45)),
            (["950", "985"], 950, 985, (2, 45)),  # last step 980
            (["1000", "1100", "5", "30", "1", "1", "0", "ignored"], 1000, 1100, (5, 30)),
            (["1000", "1030", "--sr=3", "x"], 1000, 1030, (0, 0)),
            (["1000", "1030", "2", "45", "0", "0", "tuner"], 1000, 1030, (2, 45)),  # non-numeric bus is 0
        ]
        for args, start, end, sr in cases:
            with self.subTest(args=args):
                run = Run(SATELLITE_TUNER, args)
                self.assertEqual((run.stdout, run.stderr, run.status), ("", "", 0))
                self.assertEqual(run.log, sweep(start, end, sr))

    def test_empty_range_opens_waits_and_closes(self):
        for args in (["1500", "1500"], ["2000", "1000"], ["0", "-2147483648"]):
            with self.subTest(args=args):
                run = Run(SATELLITE_TUNER, args)
                self.assertEqual((run.stdout, run.stderr, run.status), ("", "", 0))
                self.assertEqual(run.log, opening() + ["close /dev/blindscan0"])

    def test_sweep_near_int_max_ends(self):
        for end in ("2147483647", "99999999999999"):
            with self.subTest(end=end):
                run = Run(SATELLITE_TUNER, ["2147483630", end])
                self.assertEqual(run.status, 0)
                self.assertEqual(run.log, opening() + step(2147483630) + step(2147483640) + ["close /dev/blindscan0"])


class TunerChecks(unittest.TestCase):
    def assert_unsupported(self, description, args, log):
        run = Run(description, args)
        self.assertEqual((run.stdout, run.stderr, run.status), ("unsupported device\n", "", 0))
        self.assertEqual(run.log, log)

    def test_missing_frontend_node(self):
        self.assert_unsupported(SATELLITE_TUNER, [950, 2150, 2, 45, 0, 0, 3],
                                ["simrx: ready", "stat /dev/dvb/adapter0/frontend3 -> -1"])

    def test_tuner_that_is_not_satellite(self):
        listed = ["simrx: ready", "stat /dev/dvb/adapter0/frontend1 -> 0",
                  "popen cat /proc/bus/nim_sockets -> ok", "pclose"]
        for kind in ("DVB-C", "DVB-T", "DVB-T2", "ATSC"):
            with self.subTest(kind=kind):
                self.assert_unsupported(SATELLITE_TUNER + f"tuner 1 {kind} other NIM\n",
                                        [950, 2150, 2, 45, 0, 0, 1], listed)

    def test_socket_without_type_or_listing(self):
        plain = ["simrx: ready", "stat /dev/dvb/adapter0/frontend0 -> 0"]
        self.assert_unsupported("frontend 0\n", [950, 960], plain + ["popen cat /proc/bus/nim_sockets -> ok", "pclose"])
        self.assert_unsupported(SATELLITE_TUNER + "fault listing\n", [950, 960],
                                plain + ["popen cat /proc/bus/nim_sockets -> fail"])

    def test_tuner_numbers_outside_the_socket_table_are_refused(self):
        for bus in (8, 15):
            with self.subTest(bus=bus):
                self.assert_unsupported(SATELLITE_TUNER + f"frontend {bus}\n", [950, 960, 2, 45, 0, 0, bus],
                                        ["simrx: ready", f"stat /dev/dvb/adapter0/frontend{bus} -> 0",
                                         "popen cat /proc/bus/nim_sockets -> ok", "pclose"])
        self.assert_unsupported(SATELLITE_TUNER, [950, 960, 2, 45, 0, 0, -1],
                                ["simrx: ready", "stat /dev/dvb/adapter0/frontend-1 -> -1"])

    def test_verbatim_listing_selects_the_right_socket(self):
        listing = """\
            frontend 0
            frontend 2
            listing NIM Socket 0:
            listing 	Type: DVB-C
            listing NIM Socket 2:
            listing 	Type: DVB-S
            listing 	Name: second satellite NIM
            """
        run = Run(listing, [950, 970, 2, 45, 0, 0, 2])
        self.assertEqual((run.stdout, run.status), ("", 0))
        self.assertEqual(run.log, sweep(950, 970, bus=2))

    def test_bad_description_stops_the_run_before_the_tool_starts(self):
        # The simulator fails closed: the tool never runs, so nothing reaches
        # the real system's nodes, and the run says why it stopped.
        run = Run(SATELLITE_TUNER + "no such keyword\n", [950, 960])
        self.assertEqual((run.stdout, run.status), ("", 2))
        self.assertRegex(run.stderr, r"^simrx: /\S+: line 2: not understood\n$")
        self.assertEqual(run.log, ["simrx: bad description: line 2: not understood"])

    def test_device_that_cannot_be_opened(self):
        run = Run(SATELLITE_TUNER + "fault open\n", [950, 2150])
        self.assertEqual((run.stdout, run.stderr, run.status), ("", "", 0))
        self.assertEqual(run.log, opening()[:4] + ["open /dev/blindscan0 flags=0x2 -> fail"])


class ResultLines(unittest.TestCase):
    def test_found_signals_print_one_line_each(self):
        description = SATELLITE_TUNER + """\
            result at=1200 1200000999 27500999 6 9 2 2 2 3
            result at=1500 0 999 5 0 0 5 1 0
            """
        run = Run(description, [1190, 1510])
        found = {1200: [1200000999, 27500999, 6, 9, 2, 2, 2, 3], 1500: [0, 999, 5, 0, 0, 5, 1, 0]}
        self.assertEqual(run.log, sweep(1190, 1510, found=found))
        self.assertEqual(run.stderr,
                         "OK HORIZONTAL 10950000 27500000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_2_3 8PSK ROLLOFF_35\n"
                         "OK HORIZONTAL 9750000 0 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35\n")

    def test_polar_and_band_change_only_the_lines(self):
        description = SATELLITE_TUNER + "result at=1000 1000000000 22000000 5 0 0 3 1 0\n"
        expected = {
            (0, 0): "OK HORIZONTAL 10750000",
            (1, 0): "OK VERTICAL 10750000",
            (0, 1): "OK HORIZONTAL 11600000",
            (1, 2): "OK VERTICAL 11600000",
            (0, -5): "OK HORIZONTAL 11600000",
            (2, 0): "OK UNKNOWN 10750000",
            (-1, 1): "OK UNKNOWN 11600000",
        }
        for (polar, band), head in expected.items():
            with self.subTest(polar=polar, band=band):
                run = Run(description, [990, 1020, 2, 45, polar, band])
                self.assertEqual(run.log, sweep(990, 1020, found={1000: [1000000000, 22000000, 5, 0, 0, 3, 1, 0]}))
                self.assertEqual(run.stderr, head + " 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_3_4 QPSK ROLLOFF_35\n")

    def test_every_table_row_is_the_word_of_the_kernel_member_with_that_number(self):
        plain = [1000000000, 22000000, 5, 0, 0, 3, 1, 0]
        for field, (enum, position, index, rows) in WORD_FIELDS.items():
            with self.subTest(field=field):
                members = kernel_enum(enum)
                self.assertTrue(set(range(rows)) <= set(members.values()), members)
                results = ""
                for step, value in enumerate(members.values()):
                    words = plain[:index] + [value] + plain[index + 1:]
                    results += f"result at={1000 + 10 * step} " + " ".join(map(str, words)) + "\n"
                run = Run(SATELLITE_TUNER + results, [1000, 1000 + 10 * len(members)])
                printed = [line.split(" ")[4 + position] for line in run.stderr.splitlines()]
                expected = [WORD_OF_MEMBER.get(m, m.removeprefix("SYS_")) if v < rows else "UNKNOWN"
                            for m, v in members.items()]
                self.assertEqual(printed, expected)

    def test_driver_numbers_without_a_word(self):
        description = SATELLITE_TUNER + "result at=1000 1000000000 22000000 19 14 3 13 3 4\n" \
                                        "result at=1010 1010000000 22000000 -1 -1 -1 -1 -1 -1\n"
        run = Run(description, [1000, 1020])
        self.assertEqual(run.stderr,
                         "OK HORIZONTAL 10750000 22000000 UNKNOWN UNKNOWN UNKNOWN UNKNOWN UNKNOWN UNKNOWN\n"
                         "OK HORIZONTAL 10760000 22000000 UNKNOWN UNKNOWN UNKNOWN UNKNOWN UNKNOWN UNKNOWN\n")

    def test_failed_requests_end_the_step_silently(self):
        found = "result at=1000 1000000000 22000000 6 9 2 2 0 0\n"
        words = [1000000000, 22000000, 6, 9, 2, 2, 0, 0]
        set_1000 = "ioctl BS_SET_PARAMS 1000000000 2000000 45000000 0 0"
        cases = [
            ("fault request=1 at=1000\n", [set_1000 + " -> -1"]),
            ("fault request=1 at=1000 ret=1\n", [set_1000 + " -> 1"]),
            ("fault request=2 at=1000 ret=1\n", [set_1000 + " -> 0", "ioctl BS_SEARCH -> 1"]),
            ("fault request=3 at=1000\n", [set_1000 + " -> 0", "ioctl BS_SEARCH -> 0", "ioctl BS_GET_RESULT -> -1"]),
            ("fault request=3 at=1000 ret=2\n",
             [set_1000 + " -> 0", "ioctl BS_SEARCH -> 0", "ioctl BS_GET_RESULT -> 2"]),
            ("fault request=3 at=1000 ret=-22\n",
             [set_1000 + " -> 0", "ioctl BS_SEARCH -> 0", "ioctl BS_GET_RESULT -> -22"]),
        ]
        for fault, at_1000 in cases:
            with self.subTest(fault=fault):
                run = Run(SATELLITE_TUNER + found + "result at=1010 " + " ".join(map(str, words)) + "\n" + fault,
                          [990, 1020])
                self.assertEqual(run.log, opening() + step(990) + at_1000 + step(1010, words=words)
                                 + ["close /dev/blindscan0"])
                self.assertEqual(run.stderr.count("\n"), 1)  # only the step at 1010
                self.assertEqual(run.status, 0)

    def test_every_step_failing_still_sweeps_and_closes(self):
        run = Run(SATELLITE_TUNER + "fault request=1\n", [950, 2150])
        self.assertEqual((run.stdout, run.stderr, run.status), ("", "", 0))
        expected = [f"ioctl BS_SET_PARAMS {mhz * 1000000} 2000000 45000000 0 0 -> -1" for mhz in range(950, 2150, 10)]
        self.assertEqual(run.log, opening() + expected + ["close /dev/blindscan0"])

    def test_each_line_is_written_whole(self):
        description = SATELLITE_TUNER + "trace stderr\nresult at=1000 1000000000 22000000 6 9 2 2 0 0\n" \
                                        "result at=1010 1010000000 45000000 5 0 0 5 1 0\n"
        run = Run(description, [1000, 1020])
        writes = [line for line in run.log if line.startswith("write 2 ")]
        lines = run.stderr.splitlines(keepends=True)
        self.assertEqual(writes, [f"write 2 {len(line)}" for line in lines])
        self.assertEqual(len(lines), 2)

    def test_a_line_that_cannot_be_written_ends_the_sweep(self):
        description = SATELLITE_TUNER + "result at=1000 1000000000 22000000 6 9 2 2 0 0\n" \
                                        "result at=1010 1010000000 45000000 5 0 0 5 1 0\n"
        first = opening() + step(990) + step(1000, words=[1000000000, 22000000, 6, 9, 2, 2, 0, 0])
        reader, closed_pipe = os.pipe()
        os.close(reader)
        # A full disk stops the sweep quietly, status 0; a reader gone ends it as pipes do.
        with open("/dev/full", "wb") as full:
            for name, stderr, status, log in (("full disk", full, 0, first + ["close /dev/blindscan0"]),
                                              ("closed pipe", closed_pipe, -13, first)):
                with self.subTest(name):
                    run = Run(description, [990, 1020], stderr=stderr)
                    self.assertEqual((run.status, run.log), (status, log))
        os.close(closed_pipe)


class DefaultSatellite(unittest.TestCase):
    def test_each_carrier_in_view_is_seen_on_neighbouring_steps_with_small_errors(self):
        with open(DEFAULT_SAT) as f:
            run = Run(f.read(), [950, 2150, 2, 45, 0, 0, 0])
        # The low band reaches 11900 MHz: 11 carriers and two of the high band's.
        in_view = [(int(khz), int(sr)) for _, khz, pol, sr, _, _ in run.carriers if pol == "H" and int(khz) <= 11900000]
        self.assertEqual(len(in_view), 13)
        seen = {carrier: 0 for carrier in in_view}
        for line in run.stderr.splitlines():
            fields = line.split(" ")
            self.assertEqual(len(fields), 10, line)
            khz, sr = int(fields[2]), int(fields[3])
            carrier = min(in_view, key=lambda c: abs(c[0] - khz))
            # Within a fiftieth of the symbol rate (plus the fixed offset) and 0.2 %.
            self.assertLessEqual(abs(khz - carrier[0]), carrier[1] / 50000 + 3, line)
            self.assertLessEqual(abs(sr - carrier[1]), carrier[1] / 500 + 1000, line)
            seen[carrier] += 1
        self.assertTrue(all(2 <= hits <= 3 for hits in seen.values()), seen)

    def test_without_jitter_each_step_measures_the_same(self):
        with open(DEFAULT_SAT) as f:
            run = Run(f.read() + "jitter off\n", [950, 2150, 2, 45, 0, 0, 0])
        lines = run.stderr.splitlines()
        self.assertIn("OK HORIZONTAL 10728998 22000000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_2_3 8PSK ROLLOFF_35", lines)
        self.assertEqual(len(set(lines)), 13)


if __name__ == "__main__":
    unittest.main()
