#!/usr/bin/env python3
"""What a receiver plugin does with skyscan's progress events: starts the
scan with its events on a pipe of their own, keeps the result lines from
standard output, and draws a progress bar from the events as they come.

  plugin_progress.py [--width N] -- SKYSCAN [ARG...]   a live scan
  plugin_progress.py [--width N] --replay FILE         recorded events

The bar goes to standard output, redrawn in place; the result lines a live
scan printed follow it at the end. Runs on the Pythons receivers have, 3.9
and later, with nothing but the standard library."""
import argparse
import os
import subprocess
import sys
import threading

WORDS = ("PROGRESS", "DONE")


def parse_event(line):
    """An event line as (word, fields), numbers as ints; None for any other
    line, so events can share standard error with the messages."""
    parts = line.split()
    if not parts or parts[0] not in WORDS:
        return None
    fields = {}
    for part in parts[1:]:
        name, equals, value = part.partition("=")
        if not equals or not name:
            return None
        fields[name] = value if "/" in value or not value.lstrip("-").isdigit() else int(value)
    return parts[0], fields


def share_done(word, fields):
    """How much of the scan is done, 0 to 1, or None while unknown."""
    if word == "DONE":
        return 1.0
    spent, left = fields.get("seconds", 0), fields.get("left", -1)
    if left < 0:
        return None
    return spent / (spent + left) if spent + left > 0 else 0.0


def bar(word, fields, width):
    done = share_done(word, fields)
    filled = 0 if done is None else int(round(done * width))
    percent = "  ?%" if done is None else f"{int(done * 100):3d}%"
    where = "done" if word == "DONE" else f"sweep {fields.get('sweep', '?')}"
    if fields.get("phase") == "gaps":
        where = f"gaps of {where}"
    return f"[{'#' * filled}{'.' * (width - filled)}] {percent} {fields.get('found', 0)} found, {where}"


def draw(lines, out, width):
    """Redraws the bar for every event among `lines`; returns the last event."""
    last = None
    for line in lines:
        event = parse_event(line)
        if event is None:
            continue
        last = event
        out.write("\r" + bar(*event, width))
        out.flush()
    out.write("\n")
    return last


def live(command, width):
    read_end, write_end = os.pipe()
    scan = subprocess.Popen([*command, "-e", str(write_end)], stdout=subprocess.PIPE, pass_fds=(write_end,),
                            text=True)
    os.close(write_end)
    # Both pipes are read at once: a scan blocked on a full one would
    # never end the other.
    results = []
    reader = threading.Thread(target=lambda: results.extend(scan.stdout))
    reader.start()
    with os.fdopen(read_end) as events:
        last = draw(events, sys.stdout, width)
    reader.join()
    status = scan.wait()
    sys.stdout.writelines(results)
    return status if last is not None else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--width", type=int, default=40)
    parser.add_argument("--replay", metavar="FILE")
    parser.add_argument("command", nargs="*")
    args = parser.parse_args()
    if args.replay:
        with open(args.replay) as f:
            return 0 if draw(f, sys.stdout, args.width) is not None else 1
    if not args.command:
        parser.error("give --replay FILE or a skyscan command after --")
    return live(args.command, args.width)


if __name__ == "__main__":
    sys.exit(main())
