"""What the end-to-end scripts share: record bytes, exit statuses as a
parent sees them, a scratch directory per test, and the command line that
names the binaries and the runner (such as Wine) that starts them."""
import argparse
import os
import shlex
import struct
import sys
import tempfile
import unittest


def rec(rid, text):
    """One input record: id, length (both little-endian 32-bit), text."""
    if isinstance(text, str):
        text = text.encode("latin-1")
    return struct.pack("<ii", rid, len(text)) + text


def status_of(code):
    """-1 from the program shows as 255 to a POSIX parent."""
    return code & 0xFF


class Run:
    def __init__(self, proc):
        self.status = status_of(proc.returncode)
        self.stdout = proc.stdout
        self.stderr = proc.stderr


class ScratchCase(unittest.TestCase):
    """A test with a directory of its own, removed afterwards."""
    PREFIX = "e2e-"

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix=self.PREFIX)
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        p = self.path(name)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()


def parse_options(paths):
    """--NAME PATH for each name in `paths` (all required, made absolute) and
    --runner; returns the options and the arguments left for unittest."""
    parser = argparse.ArgumentParser()
    for name in paths:
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--runner", default="")
    options, rest = parser.parse_known_args()
    for name in paths:
        setattr(options, name, os.path.abspath(getattr(options, name)))
    options.runner = shlex.split(options.runner)
    return options, rest


def run_tests(rest):
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=1)
