"""skylist on the simulated receiver's sweeps: one list entry per carrier,
read back by libdvbv5's own converter, a map that renders, and bad input
reported line by line."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

# A cross-built skylist runs under qemu-user.
SKYLIST = [*os.environ.get("SKYLIST_EMULATOR", "").split(), os.environ["SKYLIST"]]
SKYSWEEP = os.environ["SKYSWEEP"]
SIMRX = os.environ["SIMRX"]
DEFAULT_SAT = os.environ["SIMRX_DEFAULT_SAT"]

# The four sweeps of a universal LNB: what the receiver sets, what skysweep is told.
SWEEPS = [("low H", "0 0"), ("low V", "1 0"), ("high H", "0 1"), ("high V", "1 1")]
GOOD = "OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35\n"


def sweep_all(tmp, description=DEFAULT_SAT):
    """The result lines of the four sweeps, and the carriers the receiver has."""
    lines = ""
    for lnb, args in SWEEPS:
        done = subprocess.run([SIMRX, "-s", description, "-l", lnb, "-d", tmp, SKYSWEEP, "950", "2150", "2", "45",
                               *args.split(), "0"], capture_output=True, text=True, timeout=60)
        lines += done.stderr
    with open(os.path.join(tmp, "carriers")) as f:
        carriers = [line.split() for line in f if line.startswith("carrier ")]
    return lines, carriers


def skylist(*args, stdin=""):
    return subprocess.run([*SKYLIST, *args], input=stdin, capture_output=True, text=True, timeout=60)


def dvbv5_entries(text):
    """[CHANNEL] blocks as dicts of their keys."""
    entries = []
    for line in text.splitlines():
        if line.startswith("["):
            entries.append({})
        elif "=" in line:
            key, value = (part.strip() for part in line.split("=", 1))
            entries[-1][key] = value
    return entries


class FourSweeps(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        cls.lines, cls.carriers = sweep_all(cls.tmp)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_every_carrier_is_listed_once_near_its_frequency(self):
        done = skylist("-f", "jsonl", stdin=self.lines)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        listed = [json.loads(line) for line in done.stdout.splitlines()]
        self.assertEqual(len(listed), len(self.carriers))
        for entry, (_, khz, pol, sr, _, _) in zip(listed, sorted(self.carriers, key=lambda c: (int(c[1]), c[2]))):
            self.assertEqual(entry["polarization"][0], pol)
            self.assertLess(abs(entry["frequency"] - int(khz)), int(sr) / 50000 + 3)
            self.assertGreaterEqual(entry["hits"], 2)
        self.assertEqual(list(listed[0]), ["frequency", "polarization", "symbol_rate", "delivery_system", "inversion",
                                           "pilot", "fec", "modulation", "rolloff", "hits", "spread_khz"])

    def test_libdvbv5_reads_the_channel_file_back_unchanged(self):
        if shutil.which("dvb-format-convert") is None:
            self.skipTest("dvb-format-convert (dvb-tools) is not installed")
        # An entry the scan knew little about keeps only what it knew.
        unknown = "OK UNKNOWN 12000000 27500000 UNKNOWN UNKNOWN PILOT_ON UNKNOWN UNKNOWN ROLLOFF_35\n"
        ours = os.path.join(self.tmp, "ours.conf")
        back = os.path.join(self.tmp, "back.conf")
        with open(ours, "w") as f:
            f.write(skylist(stdin=self.lines + unknown).stdout)
        done = subprocess.run(["dvb-format-convert", "-I", "DVBV5", "-O", "DVBV5", ours, back],
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(ours) as f:
            written = dvbv5_entries(f.read())
        with open(back) as f:
            # The converter writes "no stream id" into every DVB-S2 entry.
            read_back = [{k: v for k, v in e.items() if (k, v) != ("STREAM_ID", "0")} for e in dvbv5_entries(f.read())]
        self.assertEqual(read_back, written)
        self.assertEqual(len(written), len(self.carriers) + 1)
        self.assertIn({"FREQUENCY": "12000000", "SYMBOL_RATE": "27500000", "ROLLOFF": "35", "PILOT": "ON"}, written)

    def test_map_renders_with_one_titled_carrier_per_entry(self):
        if shutil.which("rsvg-convert") is None:
            self.skipTest("rsvg-convert (librsvg2-bin) is not installed")
        svg = skylist("-f", "svg", stdin=self.lines).stdout
        self.assertEqual(svg.count("<title>"), len(self.carriers))
        done = subprocess.run(["rsvg-convert", "-o", os.path.join(self.tmp, "map.png")], input=svg.encode(),
                              capture_output=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, b""))


class BadInput(unittest.TestCase):
    def test_bad_lines_are_reported_with_their_number_and_the_rest_kept(self):
        text = ("scan started\n" + GOOD + "\n" + GOOD.replace("22000000", "-1294967296")
                + "OK HORIZONTAL 1174" + "\n" + "x" * 600 + "\n" + GOOD.replace("11141000", "12000000"))
        done = skylist("-f", "jsonl", stdin=text[:-1])  # the last line without its newline
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, "".join(f"skylist: -:{n}: not a result line, skipped\n" for n in (1, 4, 5, 6)))
        self.assertEqual([json.loads(line)["frequency"] for line in done.stdout.splitlines()], [11141000, 12000000])

    def test_no_list_when_a_file_is_missing_or_the_list_overflows(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "missing")
            done = skylist(missing)
            self.assertEqual((done.returncode, done.stdout, done.stderr), (2, "", f"skylist: {missing}: cannot open\n"))
        many = "".join(f"OK VERTICAL {10700000 + 100 * i} 20000 DVB-S UNKNOWN UNKNOWN UNKNOWN QPSK UNKNOWN\n"
                       for i in range(2049))
        done = skylist(stdin=many)
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertEqual(done.stderr, "skylist: -:2049: more than 2048 transponders; no list written\n")

    def test_unknown_format_is_a_usage_error(self):
        done = skylist("-f", "csv")
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertIn("usage: skylist", done.stderr)


if __name__ == "__main__":
    unittest.main()
