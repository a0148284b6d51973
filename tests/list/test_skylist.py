"""skylist: golden outputs of a fixed capture in every format, the list
checked against the hits it came from, libdvbv5 converting it, maps whose
labels never overlap, forgiving input, exit statuses and the command line.

The capture tests/fixtures/skylist/bundled.sweeps holds the four sweeps of
the bundled satellite and three lines more (unknown polarisation, a C-band
frequency, a 16APSK carrier). When an output format changes on purpose,
rewrite the golden files with REGENERATE_GOLDEN=1 and read their diff."""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest
from xml.etree import ElementTree

# A cross-built skylist runs under qemu-user.
SKYLIST = [*os.environ.get("SKYLIST_EMULATOR", "").split(), os.environ["SKYLIST"]]
SKYSWEEP = os.environ["SKYSWEEP"]
SKYSCAN = os.environ["SKYSCAN"]
SIMRX = os.environ["SIMRX"]
DEFAULT_SAT = os.environ["SIMRX_DEFAULT_SAT"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "skylist")
CAPTURE = os.path.join(FIXTURES, "bundled.sweeps")
TABLES = "/usr/share/dvb/dvb-s"
REPRODUCIBLE = {"SOURCE_DATE_EPOCH": "1765152000"}  # 2025-12-08

# The four sweeps of a universal LNB: what the receiver sets, what skysweep is told.
SWEEPS = [("low H", "0 0"), ("low V", "1 0"), ("high H", "0 1"), ("high V", "1 1")]
GOOD = "OK HORIZONTAL 11141000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35\n"
WORD_KEYS = ["delivery_system", "inversion", "pilot", "fec", "modulation", "rolloff"]


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


def skylist(*args, stdin="", env=None):
    return subprocess.run([*SKYLIST, *args], input=stdin, capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, **(env or {})))


def read(path):
    with open(path) as f:
        return f.read()


def dvbv5_entries(text):
    """[...] blocks as dicts of their keys, the block's name under "name"."""
    entries = []
    for line in text.splitlines():
        if line.startswith("["):
            entries.append({"name": line[1:-1]})
        elif "=" in line:
            key, value = (part.strip() for part in line.split("=", 1))
            entries[-1][key] = value
    return entries


def expected_entries(lines, carriers):
    """The list worked out by hand from the hits: each hit belongs to the
    true carrier nearest it on its lane (a hit without one stands alone);
    an entry gives the hits' means, rounded halves up, and the first word of
    each field that was not UNKNOWN."""
    groups = {}
    for fields in (line.split() for line in lines.splitlines()):
        pol, khz, sr, words = fields[1], int(fields[2]), int(fields[3]), fields[4:]
        near = [c for c in carriers if c[1] == pol[0] and abs(int(c[0]) - khz) < int(c[2]) / 4000]
        key = (pol, near[0][0] if near else khz)
        groups.setdefault(key, []).append((khz, sr, words))
    entries = []
    for (pol, _), hits in groups.items():
        entry = {"frequency": int(sum(h[0] for h in hits) / len(hits) + 0.5),
                 "polarization": None if pol == "UNKNOWN" else pol,
                 "symbol_rate": int(sum(h[1] for h in hits) / len(hits) / 1000 + 0.5) * 1000}
        for i, key in enumerate(WORD_KEYS):
            entry[key] = next((h[2][i] for h in hits if h[2][i] != "UNKNOWN"), None)
        entry.update(hits=len(hits), spread_khz=max(h[0] for h in hits) - min(h[0] for h in hits))
        entries.append(entry)
    return sorted(entries, key=lambda e: (e["frequency"], e["polarization"] or "~"))


class Golden(unittest.TestCase):
    def test_each_format_matches_its_golden_output(self):
        for fmt, suffix in (("dvbv5", "conf"), ("jsonl", "jsonl"), ("svg", "svg")):
            with self.subTest(format=fmt):
                done = skylist("-f", fmt, CAPTURE, env=REPRODUCIBLE)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                golden = os.path.join(FIXTURES, f"bundled.{suffix}")
                if os.environ.get("REGENERATE_GOLDEN") == "1":
                    with open(golden, "w") as f:
                        f.write(done.stdout)
                self.assertEqual(done.stdout, read(golden))

    def test_every_field_is_what_the_hits_say(self):
        # The carriers of the bundled satellite, as its description lists them.
        carriers = [line.split()[1:4] for line in read(DEFAULT_SAT).splitlines() if line.startswith("tp ")]
        lines = read(CAPTURE)
        listed = [json.loads(line) for line in skylist("-f", "jsonl", CAPTURE).stdout.splitlines()]
        self.assertEqual(listed, expected_entries(lines, carriers))
        self.assertEqual(len(listed), 32 + 3)
        # The channel file carries the same values under DVBv5's names.
        for entry, block in zip(listed, dvbv5_entries(skylist(CAPTURE).stdout)):
            self.assertEqual(int(block["FREQUENCY"]), entry["frequency"])
            self.assertEqual(int(block["SYMBOL_RATE"]), entry["symbol_rate"])
            self.assertEqual(block.get("POLARIZATION"), entry["polarization"])


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

    def test_libdvbv5_converts_the_channel_file_to_each_satellite_format(self):
        if shutil.which("dvb-format-convert") is None:
            self.skipTest("dvb-format-convert (dvb-tools) is not installed")
        ours = os.path.join(self.tmp, "ours.conf")
        with open(ours, "w") as f:
            f.write(skylist(stdin=self.lines).stdout)
        written = dvbv5_entries(read(ours))

        def convert(*args):
            done = subprocess.run(["dvb-format-convert", *args], capture_output=True, text=True, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            return read(args[-1])

        def back(fmt):
            """Converted to fmt and read back: the entries with the keys that survived."""
            there = os.path.join(self.tmp, f"ours.{fmt}")
            convert("-I", "DVBV5", "-O", fmt, ours, there)
            return dvbv5_entries(convert("-I", fmt, "-O", "DVBV5", there, there + ".conf"))

        def keep(entries, keys):
            return [{k: e[k] for k in keys if k in e} for e in entries]

        # DVBv5 keeps everything (the converter adds "no stream id" to DVB-S2).
        entries = back("DVBV5")
        self.assertEqual([{k: v for k, v in e.items() if (k, v) != ("STREAM_ID", "0")} for e in entries], written)
        # The initial-tuning format keeps system, frequency, polarisation,
        # symbol rate and code rate, and for DVB-S2 roll-off and modulation.
        def tuning(entries):
            kept = ["DELIVERY_SYSTEM", "FREQUENCY", "POLARIZATION", "SYMBOL_RATE", "INNER_FEC"]
            return [keep([e], kept + (["ROLLOFF", "MODULATION"] if e["DELIVERY_SYSTEM"] == "DVBS2" else []))[0]
                    for e in entries]
        entries = back("CHANNEL")
        self.assertEqual(tuning(entries), tuning(written))
        # ZAP: one named line per transponder with frequency, polarisation and
        # symbol rate. (libdvbv5 reads its own DVB-S ZAP lines back with the
        # fields shifted, so only what it writes is compared.)
        zap = convert("-I", "DVBV5", "-O", "ZAP", "-s", "DVBS", ours, os.path.join(self.tmp, "ours.zap"))
        self.assertEqual([line.split(":")[:4] for line in zap.splitlines()],
                         [[e["name"], e["FREQUENCY"], e["POLARIZATION"][0], e["SYMBOL_RATE"]] for e in written])
        # VDR, which libdvbv5 only writes: one named line per transponder,
        # with the frequency in MHz and the symbol rate in ksym/s.
        vdr = convert("-I", "DVBV5", "-O", "VDR", ours, os.path.join(self.tmp, "ours.vdr")).splitlines()
        self.assertEqual(len(vdr), len(written))
        for line, entry in zip(vdr, written):
            name, mhz, _, source, ksym = line.split(":")[:5]
            self.assertEqual((name, source), (entry["name"], "S"))
            self.assertEqual(int(mhz), int(entry["FREQUENCY"]) // 1000)
            self.assertEqual(int(ksym), int(entry["SYMBOL_RATE"]) // 1000)


def label_boxes(svg):
    """Each label's box in page pixels, from the SVG itself: a label reads
    upwards from its anchor, and no glyph of the font is wider than 0.65 of
    its size or rises above 0.8 of it (or falls below 0.25)."""
    boxes = []
    pattern = (r'<text transform="translate\(([\d.]+) ([\d.]+)\) rotate\(-90\)" text-anchor="end" '
               r'font-size="(\d+)">([^<]*)</text>')
    for x, y, size, text in re.findall(pattern, svg):
        x, y, size = float(x), float(y), float(size)
        boxes.append((text, x - 0.8 * size, x + 0.25 * size, y, y + 0.65 * size * len(text)))
    return boxes


class Map(unittest.TestCase):
    def test_labels_never_overlap_on_dense_satellites(self):
        for name in ("Hotbird-13.0E", "Eutelsat-10A-10.0E"):
            table = os.path.join(TABLES, name)
            if not os.path.exists(table):
                self.skipTest("dtv-scan-tables is not installed")
            with self.subTest(satellite=name), tempfile.TemporaryDirectory() as tmp:
                lines, carriers = sweep_all(tmp, table)
                svg = skylist("-f", "svg", "-t", name, stdin=lines).stdout
                width = float(re.search(r'<svg [^>]*width="(\d+)"', svg).group(1))
                boxes = label_boxes(svg)
                self.assertEqual(len(boxes), svg.count("<title>"))  # every carrier labelled
                self.assertGreater(len(boxes), 90)
                boxes.sort(key=lambda b: b[1])
                for a, b in zip(boxes, boxes[1:]):
                    overlap = b[1] < a[2] and a[3] < b[4] and b[3] < a[4]
                    self.assertFalse(overlap, f"labels '{a[0]}' and '{b[0]}' overlap")
                self.assertTrue(all(0 <= b[1] and b[2] <= width for b in boxes))
                # Labels round to the nearest MHz.
                jsonl = skylist("-f", "jsonl", stdin=lines).stdout
                listed = sorted(json.loads(line)["frequency"] for line in jsonl.splitlines())
                self.assertEqual(sorted(int(b[0].split()[0]) for b in boxes), [(khz + 500) // 1000 for khz in listed])

    def test_past_the_widest_page_the_narrowest_carriers_go_unlabelled(self):
        # 600 carriers 3.4 MHz apart on one lane: the widest page holds 523
        # labels; every 7th carrier is the narrowest (1 Msym/s).
        rates = [1000000 if i % 7 == 0 else 2000000 for i in range(600)]
        lines = "".join(f"OK HORIZONTAL {10701000 + 3400 * i} {rate} DVB-S UNKNOWN UNKNOWN UNKNOWN QPSK UNKNOWN\n"
                        for i, rate in enumerate(rates))
        svg = skylist("-f", "svg", stdin=lines).stdout
        self.assertIn('width="6400"', svg)
        self.assertIn("; 77 narrow carriers unlabelled<", svg)
        boxes = sorted(label_boxes(svg), key=lambda b: b[1])
        self.assertEqual(len(boxes), 523)
        self.assertTrue(all(a[2] <= b[1] for a, b in zip(boxes, boxes[1:])))
        self.assertEqual(sum(1 for b in boxes if b[0].endswith(" 1")), rates.count(1000000) - 77)

    def test_title_legend_lanes_and_the_band(self):
        svg = skylist("-f", "svg", CAPTURE, env={"SOURCE_DATE_EPOCH": "0"}).stdout
        self.assertIn(">bundled.sweeps, 1970-01-01: 34 transponders; 1 more outside 10700-12750 MHz, not drawn<", svg)
        legend = re.findall(r'<rect x="\d+" y="\d+" width="14" height="14" fill="[^"]+"/><text [^>]*>([^<]+)<', svg)
        self.assertEqual(legend, ["DVB-S QPSK", "DVB-S2 QPSK", "DVB-S2 8PSK", "DVB-S2 16APSK", "other or unknown"])
        self.assertEqual(re.findall(r'font-size="14">(\w+)<', svg), ["horizontal", "vertical", "unknown"])
        # The band across, in kHz, whatever the list holds.
        self.assertEqual(len(re.findall(r'viewBox="10700000 0 2050000 1"', svg)), 3)
        self.assertEqual(skylist("-f", "svg", "-t", "Astra", stdin=GOOD).stdout.count("DVB-S2"), 0)
        # A title from outside stays text: markup escaped, what XML cannot hold replaced.
        titled = subprocess.run([*SKYLIST, "-f", "svg", "-t", b"<T\xfcrk & \x01\xff> T\xc3\xbcrk"], input=GOOD.encode(),
                                capture_output=True, timeout=60, env=dict(os.environ, SOURCE_DATE_EPOCH="0")).stdout
        title = ElementTree.fromstring(titled).find("{http://www.w3.org/2000/svg}text").text
        self.assertEqual(title, "<T?rk & ??> T\u00fcrk, 1970-01-01: 1 transponder")
        self.assertNotIn("unknown</text>", skylist("-f", "svg", stdin=GOOD).stdout)

    def test_the_map_spans_the_band_its_entries_occupy(self):
        def line(khz, pol="HORIZONTAL"):
            return f"OK {pol} {khz} 27500000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_3_4 8PSK ROLLOFF_20\n"
        c_band = line(3480000) + line(4100000, "VERTICAL")
        cases = [  # lines, band drawn (kHz), the title's count
            (c_band, (3400000, 800000), "2 transponders"),
            (c_band + line(3050000), (3000000, 1200000), "3 transponders"),
            (c_band + line(11500000), (3400000, 800000), "2 transponders; 1 more outside 3400-4200 MHz, not drawn"),
            (line(19710000) + line(20190000), (19650000, 600000), "2 transponders"),  # Ka: 50 MHz steps
            (line(11500000) + line(3480000), (10700000, 2050000), "1 transponder; 1 more outside 10700-12750 MHz"),
        ]
        for lines, (low, span), title in cases:
            with self.subTest(title=title):
                svg = skylist("-f", "svg", "-t", "T", stdin=lines, env={"SOURCE_DATE_EPOCH": "0"}).stdout
                self.assertIn(f">T, 1970-01-01: {title}", svg)
                self.assertEqual(re.findall(r'viewBox="(\d+) 0 (\d+) 1"', svg), [(str(low), str(span))] * 2)

    def test_a_c_band_scan_is_drawn_whole(self):
        with tempfile.TemporaryDirectory() as tmp:
            scan = subprocess.run([SIMRX, "-s", DEFAULT_SAT, "-d", tmp, SKYSCAN, "-l", "5150"], capture_output=True,
                                  text=True, timeout=120).stdout
        self.assertGreater(len(scan.splitlines()), 20)
        svg = skylist("-f", "svg", "-t", "C", stdin=scan, env={"SOURCE_DATE_EPOCH": "0"}).stdout
        self.assertIn(f">C, 1970-01-01: {len(scan.splitlines())} transponders</text>", svg)
        self.assertIn('viewBox="3000000 0 1200000 1"', svg)
        self.assertEqual(len(label_boxes(svg)), len(scan.splitlines()))
        self.assertEqual(re.findall(r'font-size="11">(\d+)<', svg), [str(mhz) for mhz in range(3000, 4201, 50)])

    def test_map_renders(self):
        if shutil.which("rsvg-convert") is None:
            self.skipTest("rsvg-convert (librsvg2-bin) is not installed")
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "map.png")
            done = subprocess.run(["rsvg-convert", "-o", png, os.path.join(FIXTURES, "bundled.svg")],
                                  capture_output=True, timeout=60)
        self.assertEqual((done.returncode, done.stderr), (0, b""))


class Input(unittest.TestCase):
    def test_crlf_byte_order_mark_and_blanks_give_the_same_list(self):
        clean = read(CAPTURE)
        messy = "\ufeff" + "".join(" " + line.replace(" ", "\t  ", 3) + " \r\n" for line in clean.splitlines())
        done = skylist("-f", "jsonl", stdin=messy)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        self.assertEqual(done.stdout, skylist("-f", "jsonl", stdin=clean).stdout)

    def test_bad_lines_are_reported_with_file_line_and_reason(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "scan.txt")
            with open(path, "w") as f:
                f.write("scan started\n" + GOOD + "\n" + GOOD.replace("22000000", "27500x")
                        + GOOD.replace("QPSK", "DVBS2") + GOOD.replace("11141000", "0") + "OK HORIZONTAL 1174\n"
                        + "x" * 600 + "\n" + GOOD.replace("11141000", "12000000")[:-1])
            done = skylist("-f", "jsonl", path)
        self.assertEqual(done.returncode, 1)
        reasons = ["not a result line", "symbol rate '27500x' is not a number", "unknown modulation 'DVBS2'",
                   "frequency is 0", "cut off: 3 of 10 fields", "longer than 255 characters"]
        self.assertEqual(done.stderr, "".join(f"skylist: {path}:{n}: {why}, skipped\n"
                                              for n, why in zip((1, 4, 5, 6, 7, 8), reasons)))
        self.assertEqual([json.loads(line)["frequency"] for line in done.stdout.splitlines()], [11141000, 12000000])

    def test_one_bad_line_is_status_1_and_the_list_is_still_written(self):
        done = skylist(stdin=GOOD + "OK\n")
        self.assertEqual((done.returncode, done.stderr), (1, "skylist: -:2: cut off: 1 of 10 fields, skipped\n"))
        self.assertEqual(len(dvbv5_entries(done.stdout)), 1)

    def test_no_list_when_it_cannot_be_read_held_or_written(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "missing")
            done = skylist(missing)
            self.assertEqual((done.returncode, done.stdout, done.stderr),
                             (2, "", f"skylist: {missing}: No such file or directory\n"))
        many = "".join(f"OK VERTICAL {10700000 + 100 * i} 20000 DVB-S UNKNOWN UNKNOWN UNKNOWN QPSK UNKNOWN\n"
                       for i in range(2049))
        done = skylist(stdin=many)
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertEqual(done.stderr, "skylist: -:2049: more than 2048 transponders; no list written\n")

    def test_a_list_that_cannot_be_written_is_reported_in_every_format(self):
        # A full disk, and a reader that has gone: with SIGPIPE at its default
        # the pipe ends skylist quietly, as any filter; ignored, it is an error.
        def run(fmt, stdout, **kw):
            return subprocess.run([*SKYLIST, "-f", fmt, "-"], input=GOOD, stdout=stdout, stderr=subprocess.PIPE,
                                  text=True, timeout=60, **kw)

        def ignore_sigpipe():
            signal.signal(signal.SIGPIPE, signal.SIG_IGN)

        for fmt in ("dvbv5", "jsonl", "svg"):
            with self.subTest(format=fmt), open("/dev/full", "w") as full:
                done = run(fmt, full)
                self.assertEqual((done.returncode, done.stderr),
                                 (2, "skylist: cannot write the list: No space left on device\n"))
            read_end, write_end = os.pipe()
            os.close(read_end)
            try:
                with self.subTest(format=fmt, sigpipe="default"):
                    done = run(fmt, write_end)
                    self.assertEqual((done.returncode, done.stderr), (-signal.SIGPIPE, ""))
                with self.subTest(format=fmt, sigpipe="ignored"):
                    done = run(fmt, write_end, preexec_fn=ignore_sigpipe)
                    self.assertEqual((done.returncode, done.stderr), (2, "skylist: cannot write the list: Broken pipe\n"))
            finally:
                os.close(write_end)

    def test_standard_input_is_read_only_without_files_or_as_dash(self):
        other = GOOD.replace("11141000", "12000000")
        named = skylist("-f", "jsonl", CAPTURE, stdin=other)  # stdin would add an entry if it were read
        self.assertEqual(named.stdout, skylist("-f", "jsonl", CAPTURE).stdout)
        with_dash = skylist("-f", "jsonl", CAPTURE, "-", stdin=other)
        self.assertEqual(len(with_dash.stdout.splitlines()), len(named.stdout.splitlines()) + 1)
        # Standard input that never ends, as a terminal's: a reader of it would hang.
        read_end, write_end = os.pipe()
        try:
            done = subprocess.run([*SKYLIST, CAPTURE], stdin=read_end, capture_output=True, timeout=10)
        finally:
            os.close(read_end)
            os.close(write_end)
        self.assertEqual(done.returncode, 0)

def dvbv5_block(khz, pol, rate, *words):
    return (f"[{khz}]\n\tFREQUENCY = {khz}\n\tPOLARIZATION = {pol}\n\tSYMBOL_RATE = {rate}\n"
            + "".join(f"\t{w}\n" for w in words) + "\n")


# A scan of five carriers, the satellite's own list and a neighbour's: one
# entry of each status, and a known carrier outside the band scanned.
SCAN = ("OK HORIZONTAL 11000400 27500000 DVB-S2 INVERSION_AUTO PILOT_ON FEC_3_4 8PSK ROLLOFF_35\n"
        "OK HORIZONTAL 11100000 22000000 DVB-S INVERSION_OFF PILOT_OFF FEC_5_6 QPSK ROLLOFF_35\n"
        "OK HORIZONTAL 11200000 5000000 DVB-S2 INVERSION_AUTO PILOT_OFF FEC_2_3 QPSK ROLLOFF_20\n"
        "OK VERTICAL 11300000 10000000 DVB-S2 INVERSION_AUTO PILOT_OFF FEC_3_5 8PSK ROLLOFF_20\n")
OWN = ("# the satellite\r\n[CHANNEL]\r\n\tDELIVERY_SYSTEM = DVBS2\r\n\tFREQUENCY = 11000000\r\n"
       "\tPOLARIZATION = LEFT\r\n\tSYMBOL_RATE = 27500000\r\n\tMODULATION = PSK/8\r\n\tSTREAM_ID = 3\r\n\r\n"
       + dvbv5_block(11100000, "HORIZONTAL", 27500000, "DELIVERY_SYSTEM = DVBS", "INNER_FEC = 5/6")
       + dvbv5_block(11400000, "RIGHT", 27500000, "DELIVERY_SYSTEM = DVBS2")
       + dvbv5_block(12600000, "VERTICAL", 27500000)
       + dvbv5_block(11500000, "HORIZONTAL", "1x"))
NEIGHBOUR = dvbv5_block(11201000, "HORIZONTAL", 5000000) + dvbv5_block(11300000, "HORIZONTAL", 10000000)


class Comparison(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        self.scan, self.own, self.neighbour = (os.path.join(tmp, n) for n in ("scan", "Sat-19.2E", "Sat-16.0E"))
        for path, text in ((self.scan, SCAN), (self.own, OWN), (self.neighbour, NEIGHBOUR)):
            with open(path, "w", newline="") as f:
                f.write(text)

    def compare(self, *args):
        return skylist("-k", self.own, "-n", self.neighbour, "-r", "10700-11700", *args, self.scan,
                       env=REPRODUCIBLE)

    def test_each_entry_gets_its_status_and_the_bad_known_entry_is_reported(self):
        done = self.compare("-f", "jsonl")
        self.assertEqual((done.returncode, done.stderr),
                         (1, f"skylist: {self.own}:31: SYMBOL_RATE '1x' is not a number, skipped\n"))
        got = [(e["frequency"], e["status"], e["changes"], e.get("source"), e["hits"])
               for e in map(json.loads, done.stdout.splitlines())]
        self.assertEqual(got, [(11000400, "unchanged", [], None, 1),
                               (11100000, "changed", ["symbol_rate"], None, 1),
                               (11200000, "neighbour", [], "Sat-16.0E", 1),
                               (11300000, "new", [], None, 1),
                               (11400000, "missing", [], None, 0)])  # 12600 MHz lies outside the range
        # Without known lists nothing is compared, and no key is added.
        self.assertNotIn("status", skylist("-f", "jsonl", self.scan).stdout)

    def test_a_known_list_with_nothing_in_it_is_an_error_of_that_file(self):
        empty = os.path.join(os.path.dirname(self.own), "empty")
        for text in ("", "# nothing here\n", dvbv5_block(11500000, "HORIZONTAL", "1x")):
            with self.subTest(text=text):
                with open(empty, "w") as f:
                    f.write(text)
                done = skylist("-k", empty, "-f", "jsonl", self.scan)
                self.assertEqual(done.returncode, 1)
                self.assertTrue(done.stderr.endswith(f"skylist: {empty}: no transponders read\n"), done.stderr)
                self.assertEqual(len(done.stdout.splitlines()), 4)

    def test_neighbour_lists_alone_give_statuses_naming_each_list(self):
        other = os.path.join(os.path.dirname(self.own), "Sat-23.5E")
        with open(other, "w") as f:
            f.write(dvbv5_block(11100000, "HORIZONTAL", 22000000))
        done = skylist("-n", self.neighbour, "-n", other, "-f", "jsonl", self.scan)
        got = [(e["frequency"], e["status"], e.get("source")) for e in map(json.loads, done.stdout.splitlines())]
        self.assertEqual(got, [(11000400, "new", None), (11100000, "neighbour", "Sat-23.5E"),
                               (11200000, "neighbour", "Sat-16.0E"), (11300000, "new", None)])

    def test_only_selects_what_is_written_and_the_channel_file_says_why(self):
        done = self.compare("-o", "changed,missing,neighbour")
        self.assertEqual([e["name"] for e in dvbv5_entries(done.stdout)], ["11100 H 22000", "11200 H 5000", "11400 V 27500"])
        self.assertEqual(re.findall(r"^# .*", done.stdout, re.M),
                         ["# changed: symbol_rate", "# neighbour: Sat-16.0E", "# missing"])
        done = self.compare("-o", "new,gone")
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertIn("statuses 'new,gone' not understood", done.stderr)
        done = skylist("-o", "new", self.scan)  # nothing to compare with: not an empty list
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertIn("--only needs --known or --neighbour", done.stderr)

    def test_the_map_counts_and_draws_each_status(self):
        svg = self.compare("-f", "svg", "-t", "Sat").stdout
        self.assertIn(">Sat, 2025-12-08: 5 transponders; 1 unchanged, 1 changed, 1 new, 1 neighbour, 1 missing<", svg)
        legend = re.findall(r'width="28" height="14"[^>]*/>(?:<[^t][^>]*/>)*<text [^>]*>(\w+)<', svg)
        self.assertEqual(legend, ["changed", "new", "neighbour", "missing"])
        # Each mark once on the map and once in the legend: new a filled red
        # marker, changed an open one, a neighbour's carrier hatched.
        for mark in ('stroke-dasharray="4 3"', 'z" fill="#d00000"', 'z" fill="#fff" stroke="#222"', 'fill="url(#hatch)"'):
            self.assertEqual(svg.count(mark), 2, mark)
        self.assertIn('<pattern id="hatch"', svg)
        ElementTree.fromstring(svg)

    def test_a_narrow_carrier_in_a_wide_ones_skirt_is_drawn_over_it(self):
        lines = (GOOD.replace("11141000 22000000", "10985000 2000000")
                 + GOOD.replace("11141000 22000000", "11000000 30000000"))
        svg = skylist("-f", "svg", stdin=lines).stdout
        self.assertEqual(re.findall(r"<title>(\d+) kHz", svg), ["11000000", "10985000"])

    def test_no_value_is_used_before_it_is_set(self):
        # A field left unset shows on one machine's stack and not another's.
        valgrind = os.environ.get("SKYLIST_VALGRIND")
        if not valgrind:
            self.skipTest("memcheck runs the native build without sanitizers only")
        for fmt in ("dvbv5", "jsonl", "svg"):
            for compared in ((), ("-k", self.own, "-n", self.neighbour)):
                with self.subTest(format=fmt, compared=bool(compared)):
                    done = subprocess.run([valgrind, "-q", "--error-exitcode=99", os.environ["SKYLIST"], "-f", fmt,
                                           *compared, self.scan, CAPTURE], capture_output=True, text=True, timeout=120)
                    self.assertIn(done.returncode, (0, 1), done.stderr)


class CommandLine(unittest.TestCase):
    def test_help_and_version_answer_on_standard_output(self):
        for option in ("--help", "-h"):
            done = skylist(option)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertTrue(done.stdout.startswith("Usage: skylist "))
        done = skylist("--version")
        self.assertEqual(done.returncode, 0)
        self.assertRegex(done.stdout, r"^skylist \d+\.\d+\.\d+\n$")

    def test_wrong_options_say_what_was_wrong(self):
        done = skylist("-f", "json")
        self.assertEqual((done.returncode, done.stdout), (2, ""))
        self.assertEqual(done.stderr, "skylist: unknown format 'json' (dvbv5, jsonl or svg)\n"
                                      "Try 'skylist --help' for more information.\n")
        # getopt's own complaints name the program as every other message does.
        for args, said in ((["--colour"], "unrecognized option '--colour'"), (["-x"], "invalid option -- 'x'"),
                           (["-f"], "option requires an argument -- 'f'"),
                           (["--known"], "option '--known' requires an argument")):
            with self.subTest(args=args):
                done = skylist(*args)
                self.assertEqual((done.returncode, done.stdout), (2, ""))
                self.assertEqual(done.stderr, f"skylist: {said}\nTry 'skylist --help' for more information.\n")


if __name__ == "__main__":
    unittest.main()
