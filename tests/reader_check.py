"""What the tests that drive a real outside reader (fabio, Pillow) share: a
clear failure when the reader is not installed, and the closing line."""
import sys


def require(name, packages, *modules):
    """Imports the modules, or ends the test as failed, naming the packages."""
    try:
        return [__import__(m, fromlist=["_"]) for m in modules]
    except ImportError as e:
        print(f"{name} test: {e.name} is missing (apt-get install {packages})")
        print(f"{name}: 0 passed, 1 failed")
        sys.exit(1)


def finish(name, failures):
    """Prints every failure and the closing line; exits non-zero on any."""
    for f in failures:
        print(f)
    print(f"{name}: {0 if failures else 1} passed, {1 if failures else 0} failed")
    sys.exit(1 if failures else 0)
