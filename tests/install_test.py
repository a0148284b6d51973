"""Installs a build into a staging root (DESTDIR) and checks the layout.
Usage: install_test.py CMAKE BUILD_DIR EXPECTED_PATH..."""
import os
import subprocess
import sys
import tempfile


def installed_files(root):
    found = set()
    for folder, _, files in os.walk(root):
        for name in files:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def main(cmake, build, expected):
    with tempfile.TemporaryDirectory() as stage:
        env = dict(os.environ, DESTDIR=stage)
        subprocess.run([cmake, "--install", build, "--prefix", "/usr", "--strip"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        found = installed_files(stage)
        programs = [p for p in expected if p.startswith("usr/bin/")]
        not_executable = [p for p in programs if not os.access(os.path.join(stage, p), os.X_OK)]
    print("\n".join(sorted(found)))
    ok = found == set(expected) and not not_executable
    if found != set(expected):
        print("missing:", sorted(set(expected) - found), "unexpected:", sorted(found - set(expected)))
    if not_executable:
        print("not executable:", not_executable)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
