"""Installs a build into a staging root (DESTDIR) and checks the layout: a
full install gives exactly the expected paths, and the ones given with
--on-request come only from an install of the "standby" component.
Usage: install_test.py CMAKE BUILD_DIR [--on-request=PATH]... EXPECTED_PATH..."""
import os
import subprocess
import sys
import tempfile


def install(cmake, build, *options):
    """The files a DESTDIR install puts down, and those of them under bin/ that are not executable."""
    with tempfile.TemporaryDirectory() as stage:
        env = dict(os.environ, DESTDIR=stage)
        subprocess.run([cmake, "--install", build, "--prefix", "/usr", "--strip", *options], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        found = set()
        for folder, _, files in os.walk(stage):
            found.update(os.path.relpath(os.path.join(folder, name), stage) for name in files)
        not_executable = {p for p in found if p.startswith("usr/bin/") and not os.access(os.path.join(stage, p), os.X_OK)}
    return found, not_executable


def check(what, found, expected, not_executable):
    print(f"{what}:", *sorted(found), sep="\n  ")
    if found != expected:
        print("missing:", sorted(expected - found), "unexpected:", sorted(found - expected))
    if not_executable:
        print("not executable:", sorted(not_executable))
    return found == expected and not not_executable


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
