"""The receiver's feed packages, checked as opkg and a receiver image need
them: dpkg-deb reads each; its members are debian-binary, control.tar.gz
and data.tar.gz in that order, gzip-compressed; the control fields are
complete and valid; every ELF file is of the package's processor; what a
file needs is declared (libc, the module's Python); the one module serves
every receiver's Python; nothing lands outside the paths a receiver image
uses; and the feed's index describes each file.

  packages_test.py --build CPACK_CONFIG PROCESSOR VERSION
      makes the packages twice, checks that the bytes are the same, then
      checks them and an index made by dpkg-scanpackages
  packages_test.py --feed FEED_ARCH_DIR PROCESSOR VERSION
      checks a feed as cmake/build-feed left it"""
import gzip
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest

MODE, WHERE, PROCESSOR, VERSION = sys.argv[1:5] if len(sys.argv) >= 5 else (None,) * 4
# ELF machine, class (1: 32-bit, 2: 64-bit) and data (1: little-endian) per processor.
ELF = {"mips": (8, 1, 1), "arm": (40, 1, 1), "aarch64": (183, 2, 1)}
FIELDS = ["Package", "Version", "Architecture", "Maintainer", "Description", "Section", "Priority", "Source"]
# Where a receiver image keeps programs, manual pages and Python modules,
# and the module's own folder, which each Python's site-packages links to.
PLACES = [r"usr/bin/[^/]+", r"usr/share/man/man[1-8]/[^/]+", r"usr/lib/python3\.\d+/site-packages/[^/]+",
          r"usr/lib/zarvocrc/[^/]+"]
FOLDERS = r"usr(/bin|/share(/man(/man[1-8])?)?|/lib(/python3\.\d+(/site-packages)?|/zarvocrc)?)?"
# The Pythons receivers run.
RECEIVER_PYTHONS = ["3.9", "3.10", "3.11", "3.12", "3.13"]
EPOCH = "1765152000"


def ar_members(data):
    """(name, bytes) of each member of an ar archive."""
    assert data[:8] == b"!<arch>\n", "not an ar archive"
    members, at = [], 8
    while at < len(data):
        header = data[at:at + 60]
        name, size = header[:16].decode().strip().rstrip("/"), int(header[48:58].decode())
        members.append((name, data[at + 60:at + 60 + size]))
        at += 60 + size + (size % 2)
    return members


def tar_entries(blob):
    with tarfile.open(fileobj=io.BytesIO(blob), mode="r:gz") as tar:
        return [(m, tar.extractfile(m).read() if m.isfile() else None) for m in tar.getmembers()]


def control_fields(text):
    fields, key = {}, None
    for line in text.splitlines():
        if line.startswith(" ") and key:
            fields[key] += "\n" + line
        elif ":" in line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    return fields


def make_packages(folder):
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    subprocess.run(["cpack", "--config", WHERE, "-B", folder], env=env, check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(os.path.join(folder, "_CPack_Packages"))  # CPack's staging, as cmake/build-feed does
    return sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith(".ipk"))


def make_index(folder):
    index = subprocess.run(["dpkg-scanpackages", "-t", "ipk", "-m", "."], cwd=folder, capture_output=True, text=True,
                           check=True).stdout.replace("Filename: ./", "Filename: ")
    with open(os.path.join(folder, "Packages"), "w") as f:
        f.write(index)
    with gzip.GzipFile(os.path.join(folder, "Packages.gz"), "wb", mtime=0) as f:
        f.write(index.encode())


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        if MODE == "--build":
            first = make_packages(os.path.join(cls.tmp.name, "first"))
            cls.paths = make_packages(os.path.join(cls.tmp.name, "again"))
            cls.first = first
            make_index(os.path.dirname(cls.paths[0]))
        else:
            cls.paths = sorted(os.path.join(WHERE, n) for n in os.listdir(WHERE) if n.endswith(".ipk"))
        cls.feed = os.path.dirname(cls.paths[0])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def each(self):
        for path in self.paths:
            with open(path, "rb") as f:
                data = f.read()
            members = ar_members(data)
            control = dict(tar_entries(dict(members)["control.tar.gz"]))
            control_text = next(blob for m, blob in control.items() if m.name.endswith("control")).decode()
            yield path, members, control, control_fields(control_text), tar_entries(dict(members)["data.tar.gz"])

    def test_the_same_commit_gives_the_same_bytes(self):
        if MODE != "--build":
            self.skipTest("a feed as built is checked, not rebuilt")
        self.assertEqual([os.path.basename(p) for p in self.first], [os.path.basename(p) for p in self.paths])
        for first, again in zip(self.first, self.paths):
            with open(first, "rb") as a, open(again, "rb") as b:
                self.assertEqual(a.read(), b.read(), os.path.basename(first))

    def test_three_packages_that_dpkg_deb_reads(self):
        self.assertEqual(sorted(control_fields(subprocess.run(["dpkg-deb", "-f", p], capture_output=True, text=True,
                                                             check=True).stdout)["Package"] for p in self.paths),
                         ["python3-zarvocrc", "skytools", "wakenap"])
        for path in self.paths:
            for option in ("-I", "-c"):
                done = subprocess.run(["dpkg-deb", option, path], capture_output=True)
                self.assertEqual((done.returncode, done.stderr), (0, b""), path)

    def test_members_in_order_and_gzip(self):
        for path, members, _, _, _ in self.each():
            self.assertEqual([name for name, _ in members], ["debian-binary", "control.tar.gz", "data.tar.gz"], path)
            self.assertEqual(members[0][1], b"2.0\n")
            for _, blob in members[1:]:
                self.assertEqual(blob[:2], b"\x1f\x8b", path)

    def test_control_fields_are_complete_and_valid(self):
        for path, _, control, fields, data in self.each():
            with self.subTest(package=os.path.basename(path)):
                self.assertEqual([f for f in FIELDS if not fields.get(f)], [])
                self.assertRegex(fields["Package"], r"^[a-z0-9][a-z0-9.+-]+$")
                self.assertEqual(fields["Version"], VERSION)
                self.assertEqual(os.path.basename(path),
                                 f"{fields['Package']}_{VERSION}_{fields['Architecture']}.ipk")
                self.assertNotIn("\n", fields["Description"].split("\n")[0])
                for member in control:
                    if member.name.lstrip("./") in ("preinst", "postinst", "prerm", "postrm"):
                        self.assertTrue(member.mode & 0o111, f"{member.name} is not executable")
                for member, _ in data:
                    self.assertEqual((member.uid, member.gid, member.uname, member.gname), (0, 0, "root", "root"))
                    self.assertEqual(member.mtime, int(EPOCH) if MODE == "--build" else member.mtime)

    def test_elf_files_are_for_the_packages_processor_and_their_needs_declared(self):
        machine = ELF[PROCESSOR]
        for path, _, _, fields, data in self.each():
            elves = [(m.name, blob) for m, blob in data if blob and blob[:4] == b"\x7fELF"]
            for name, blob in elves:
                found = (int.from_bytes(blob[18:20], "little"), blob[4], blob[5])
                self.assertEqual(found, machine, f"{name} in {os.path.basename(path)}")
            if elves:
                self.assertRegex(fields.get("Depends", ""), r"\blibc6 \(>= 2\.\d+\)")

    def test_one_module_for_every_receivers_python(self):
        for path, _, _, fields, data in self.each():
            if fields["Package"] != "python3-zarvocrc":
                continue
            modules = {m.name.lstrip("./") for m, _ in data if m.isfile() and m.name.endswith(".so")}
            with self.subTest(package=os.path.basename(path)):
                self.assertEqual(modules, {"usr/lib/zarvocrc/zarvocrc.abi3.so"})
                self.assertNotIn("<<", fields["Depends"])
                oldest = re.search(r"\(>= 3\.(\d+)\)", fields["Depends"])
                self.assertTrue(oldest and int(oldest.group(1)) <= 9, fields["Depends"])
                links = {m.name.lstrip("./"): m.linkname for m, _ in data if m.issym()}
                for version in RECEIVER_PYTHONS:
                    link = f"usr/lib/python{version}/site-packages/zarvocrc.abi3.so"
                    self.assertIn(link, links)
                    self.assertIn(os.path.normpath(os.path.join(os.path.dirname(link), links[link])), modules)

    def test_nothing_lands_outside_a_receiver_images_paths(self):
        for path, _, _, _, data in self.each():
            for member, _ in data:
                name = member.name.lstrip("./")
                if member.isdir():
                    self.assertRegex(name.rstrip("/"), "^" + FOLDERS + "$")
                else:
                    self.assertTrue(any(re.fullmatch(p, name) for p in PLACES), f"{name} in {os.path.basename(path)}")

    def test_the_index_describes_each_file(self):
        with open(os.path.join(self.feed, "Packages")) as f:
            index = f.read()
        with gzip.open(os.path.join(self.feed, "Packages.gz"), "rt") as f:
            self.assertEqual(f.read(), index)
        paragraphs = [control_fields(p) for p in index.strip().split("\n\n")]
        self.assertEqual(sorted(p["Filename"] for p in paragraphs), sorted(os.path.basename(p) for p in self.paths))
        for p in paragraphs:
            with open(os.path.join(self.feed, p["Filename"]), "rb") as f:
                data = f.read()
            self.assertEqual((int(p["Size"]), p["MD5sum"], p["SHA256"]),
                             (len(data), hashlib.md5(data).hexdigest(), hashlib.sha256(data).hexdigest()))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
