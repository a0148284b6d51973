"""wakenap in the fail-closed sandbox: the fifteen command lines in order,
the driver and kernel writes between them, and nothing else."""
import os
import subprocess
import tempfile
import unittest

WAKENAP = os.environ["WAKENAP"]
SANDBOX = os.environ["STANDBY_SANDBOX"]
# A cross-built wakenap runs under qemu-user, inside the sandbox.
EMULATOR = ["-e", os.environ["STANDBY_EMULATOR"]] if os.environ.get("STANDBY_EMULATOR") else []

COMMANDS = [
    "killall nmbd",
    "killall smbd",
    "killall rpc.mountd",
    "killall rpc.statd",
    "/etc/init.d/satipclient stop",
    "/etc/init.d/softcam stop",
    "killall CCcam",
    "killall hddtemp",
    "killall transmission-daemon",
    "ethtool -s eth0 wol g",
    "echo aux > /proc/stb/avs/0/input",
    "echo dev_aon s2 > /proc/stb/dbg",
    "echo standby > /sys/power/state",
    "echo dev_aon s0 > /proc/stb/dbg",
    "reboot",
]

# What each command leaves in the log after its "run" line when all goes well.
EFFECTS = {
    "echo aux > /proc/stb/avs/0/input": ["write /proc/stb/avs/0/input aux"],
    "echo dev_aon s2 > /proc/stb/dbg": ["write /proc/stb/dbg dev_aon s2"],
    "echo standby > /sys/power/state": ["write /sys/power/state standby"],
    "echo dev_aon s0 > /proc/stb/dbg": ["write /proc/stb/dbg dev_aon s0"],
}


def standin(command):
    return EFFECTS.get(command, [f"standin {command}"])


class Sandboxed:
    def __init__(self, *options, args=()):
        with tempfile.TemporaryDirectory() as logdir:
            done = subprocess.run([SANDBOX, "-d", logdir, *EMULATOR, *options, WAKENAP, *args], capture_output=True, timeout=120)
            path = os.path.join(logdir, "events.log")
            self.events = []
            if os.path.exists(path):
                with open(path) as f:
                    self.events = f.read().splitlines()
        if done.returncode == 77:
            raise unittest.SkipTest("user namespaces are not available: " + done.stderr.decode().strip())
        self.status = done.returncode
        self.stdout = done.stdout.decode()
        self.stderr = done.stderr.decode()

    def commands(self):
        return [e[4:] for e in self.events if e.startswith("run ")]


class Sequence(unittest.TestCase):
    def test_fifteen_commands_with_their_effects_in_order(self):
        run = Sandboxed()
        expected = [line for command in COMMANDS for line in [f"run {command}"] + standin(command)] + ["exit 0"]
        self.assertEqual(run.events, expected)
        self.assertEqual(run.status, 0)

    def test_tool_prints_nothing_itself(self):
        run = Sandboxed()
        self.assertEqual((run.stdout, run.stderr), ("", ""))

    def test_arguments_change_nothing(self):
        plain = Sandboxed()
        for args in (["now"], ["--help", "-x", "3"]):
            with self.subTest(args=args):
                run = Sandboxed(args=args)
                self.assertEqual(run.events, plain.events)
                self.assertEqual((run.status, run.stdout, run.stderr), (0, "", ""))

    def test_every_failure_is_passed_over(self):
        # No services, no Wake-on-LAN support, missing init scripts, refused
        # writes, a reboot that fails: the sequence still runs to the end.
        run = Sandboxed("--fail-all")
        self.assertEqual(run.commands(), COMMANDS)
        self.assertFalse([e for e in run.events if e.startswith("write ")])
        self.assertEqual(run.events[-3:], ["run reboot", "standin reboot", "exit 0"])
        self.assertEqual(run.status, 0)
        self.assertEqual(run.stdout, "")
        # Everything on standard error comes from the failing commands.
        self.assertIn("nmbd: no process found", run.stderr)
        self.assertIn("cannot create /sys/power/state: Read-only file system", run.stderr)
        self.assertIn("Failed to talk to init daemon.", run.stderr)


class NotAReceiver(unittest.TestCase):
    def test_without_the_driver_files_nothing_runs(self):
        # A PC has no /proc/stb, and a driver with only part of it is no
        # receiver either: whatever the arguments, not one command may start,
        # and the refusal is one line and a failing status.
        for option, missing in (("--no-stb", "/proc/stb/avs/0/input"), ("--no-dbg", "/proc/stb/dbg")):
            for args in ([], ["--help"]):
                with self.subTest(option=option, args=args):
                    run = Sandboxed(option, args=args)
                    self.assertEqual(run.events, ["exit 1"])
                    self.assertEqual(run.stdout, "")
                    self.assertEqual(run.stderr, f"wakenap: {missing} not found: not a receiver, nothing done\n")


class FailClosed(unittest.TestCase):
    def test_refuses_to_run_with_any_stand_in_missing(self):
        for part in ("sys-power", "proc", "init.d", "run", "commands", "shell", "readonly"):
            with self.subTest(part=part):
                run = Sandboxed("--omit", part)
                self.assertEqual(run.status, 3)
                self.assertEqual(run.events, [])  # the program never started
                self.assertIn("refusing to run", run.stderr)

    def test_bare_namespaces_reach_nothing_on_the_host(self):
        # With every stand-in left out, what is left between a command line
        # and the host: an unprivileged user, its own processes, loopback only.
        done = subprocess.run([SANDBOX, "--probe"], capture_output=True, text=True, timeout=60)
        if done.returncode == 77:
            self.skipTest("user namespaces are not available")
        report = dict(line.split(" ", 1) for line in done.stdout.splitlines())
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(report["uid_map"], r"^0 [1-9][0-9]* 1$")
        self.assertEqual(report["pid"], "1")
        self.assertEqual(report["pid-1"], "sandbox")
        self.assertEqual(report["interfaces"].split(), ["lo"])
        self.assertEqual(report["sys-power-state"], "not-writable")
        self.assertEqual(report["init.d"], "not-writable")


if __name__ == "__main__":
    unittest.main()
