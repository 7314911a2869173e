"""Runs a scenario module, class or test method with unittest, less the classes and methods
named after --apart ("Class" or "Class.method" of the module), which run as tests of their
own or not at all in this build.

    python3 scenarios.py NAME [--apart PART...]"""
import importlib
import os
import sys
import unittest


def cases(suite):
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            yield from cases(test)
        else:
            yield test


def main():
    sys.path.insert(0, os.getcwd())  # the scenarios' folder, as "python3 -m unittest" has it
    args = sys.argv[1:]
    (name, *apart) = args[:1] + args[args.index("--apart") + 1:] if "--apart" in args else args
    module = importlib.import_module(name.split(".")[0])
    for part in apart:
        cls, _, method = part.partition(".")
        if not isinstance(getattr(module, cls, None), type) or (method and not hasattr(getattr(module, cls), method)):
            sys.exit(f"scenarios: {module.__name__} has no {part}")
    loaded = unittest.defaultTestLoader.loadTestsFromName(name)
    suite = unittest.TestSuite(t for t in cases(loaded) if type(t).__name__ not in apart
                               and f"{type(t).__name__}.{t._testMethodName}" not in apart)
    if not suite.countTestCases():
        sys.exit(f"scenarios: no test in {name}")
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
