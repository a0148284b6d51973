"""Every tool and script of the project but skysweep and wakenap (whose
command lines are fixed) answers --help with its usage and --version with
the project's version, both on standard output with status 0, and does
nothing else. No room of the house includes a header of a room that
includes one of its own: shared code lives in a room below both. Usage: conventions_test.py SOURCE_DIR VERSION COMMAND..., each
COMMAND a program path, or a script path relative to SOURCE_DIR."""
import glob
import os
import re
import subprocess
import sys
import unittest

SOURCE, VERSION, COMMANDS = sys.argv[1], sys.argv[2], sys.argv[3:]
SCRIPTS = ["quickstart", "cmake/install-packages", "cmake/build-feed", "cmake/fetch-target-python.sh", "cmake/static-analysis.sh",
           "sim/survey", "cmake/pictures", "sim/sandbox/standby-sandbox", "sim/malta/fetch-malta", "sim/malta/build-image",
           "sim/malta/run-malta", "tests/fuzz/run-fuzzers.sh", ".ci/fresh-roots", "list/recall_benchmark.py",
           "crcmodule/benchmark.py"]


def command_line(command):
    if command.endswith(".py"):
        return [sys.executable, os.path.join(SOURCE, command)]
    return command.split() if os.path.isabs(command.split()[-1]) else [os.path.join(SOURCE, command)]


class HelpAndVersion(unittest.TestCase):
    def test_every_tool_answers(self):
        for command in COMMANDS + SCRIPTS:
            name = os.path.basename(command.split()[-1])
            with self.subTest(command=name):
                helped = subprocess.run(command_line(command) + ["--help"], capture_output=True, text=True, timeout=60)
                self.assertEqual((helped.returncode, helped.stderr), (0, ""))
                self.assertRegex(helped.stdout, r"(?i)usage|" + name.split(".")[0])
                versioned = subprocess.run(command_line(command) + ["--version"], capture_output=True, text=True,
                                           timeout=60)
                self.assertEqual((versioned.returncode, versioned.stderr), (0, ""))
                self.assertEqual(versioned.stdout, f"{name} {VERSION}\n")


class Rooms(unittest.TestCase):
    def test_no_two_rooms_need_each_other(self):
        headers = {}  # header name -> its room
        for path in glob.glob(os.path.join(SOURCE, "*", "*.h")):
            headers[os.path.basename(path)] = os.path.basename(os.path.dirname(path))
        needs = set()
        for path in glob.glob(os.path.join(SOURCE, "*", "*.[ch]*")):
            room = os.path.basename(os.path.dirname(path))
            with open(path, errors="replace") as f:
                for name in re.findall(r'#include "([^"]+)"', f.read()):
                    if headers.get(name, room) != room:
                        needs.add((room, headers[name]))
        self.assertIn(("list", "results"), needs)  # the scan finds the house as it is laid out
        self.assertEqual(sorted((a, b) for a, b in needs if (b, a) in needs), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
