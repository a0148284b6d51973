"""Runs one unittest module of the current folder, as `python -m unittest -v`
would, and makes its skips visible to ctest: exit 77 (the tests' SKIP_RETURN_CODE)
when every case was skipped, and a count with the reasons when some were."""
import sys
import unittest

SKIPPED_ALL = 77


def main(module):
    sys.path.insert(0, ".")
    suite = unittest.defaultTestLoader.loadTestsFromName(module)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    # A case whose subtests were skipped counts once.
    skipped = len({getattr(case, "test_case", case).id() for case, _ in result.skipped})
    reasons = sorted({reason for _, reason in result.skipped})
    if skipped and skipped == result.testsRun:
        print(f"{module}: all {skipped} cases skipped: {'; '.join(reasons)}")
        return SKIPPED_ALL
    if skipped:
        print(f"{module}: {skipped} of {result.testsRun} cases skipped: {'; '.join(reasons)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
