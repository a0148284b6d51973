"""Installs a build into a staging root (DESTDIR) and checks the layout: a
full install gives exactly the expected paths, every link among them leads
to a file installed beside it, and the ones given with --on-request come
only from an install of the "standby" component.
Usage: install_test.py CMAKE BUILD_DIR [--on-request=PATH]... EXPECTED_PATH..."""
import os
import subprocess
import sys
import tempfile


def install(cmake, build, *options):
    """The files a DESTDIR install puts down, and the bad ones among them: under
    bin/ and not executable, or a link that leads to no installed file."""
    with tempfile.TemporaryDirectory() as stage:
        env = dict(os.environ, DESTDIR=stage)
        subprocess.run([cmake, "--install", build, "--prefix", "/usr", "--strip", *options], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        found = set()
        for folder, _, files in os.walk(stage):
            found.update(os.path.relpath(os.path.join(folder, name), stage) for name in files)
        bad = {p for p in found if p.startswith("usr/bin/") and not os.access(os.path.join(stage, p), os.X_OK)}
        bad |= {p for p in found if os.path.islink(os.path.join(stage, p)) and not leads_to_a_file(stage, p)}
    return found, bad


def leads_to_a_file(stage, path):
    target = os.path.realpath(os.path.join(stage, path))
    return target.startswith(os.path.realpath(stage) + os.sep) and os.path.isfile(target)


def check(what, found, expected, bad):
    print(f"{what}:", *sorted(found), sep="\n  ")
    if found != expected:
        print("missing:", sorted(expected - found), "unexpected:", sorted(found - expected))
    if bad:
        print("not executable, or a link to no installed file:", sorted(bad))
    return found == expected and not bad


def main(cmake, build, args):
    on_request = {a.split("=", 1)[1] for a in args if a.startswith("--on-request=")}
    expected = {a for a in args if not a.startswith("--on-request=")}
    found, bad = install(cmake, build)
    ok = check("full install", found, expected, bad)
    if on_request:
        found, bad = install(cmake, build, "--component", "standby")
        ok = check("--component standby", found, on_request, bad) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
