"""What a machine needs and what runs on it: the packages tools/bootstrap.sh
asks for in each mode (against fake dpkg and apt-get), and how tools/wine-run
and tools/run-tests choose the Windows architecture, played with fake Wine
loaders: one that starts, one the kernel refuses with "Exec format error" (as
a machine without 32-bit support refuses the 32-bit loader) and one that is
missing. Nothing is installed and no Wine runs, so this runs on every machine.

    machine_setup_test.py --source SOURCE_DIR
"""
import argparse
import os
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE = None

# An ELF header for a machine no kernel knows: execve fails with ENOEXEC.
FOREIGN_ELF = b"\x7fELF\x01\x01\x01" + b"\0" * 9 + struct.pack("<HH", 2, 0xBEEF) + b"\0" * 32


def pe_image(machine):
    """The first bytes of a PE file: a DOS header whose e_lfanew points at
    the signature and the COFF machine field."""
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 64)
    return dos + b"PE\0\0" + struct.pack("<H", machine) + b"\0" * 18


I386, AMD64, ARM64 = 0x14C, 0x8664, 0xAA64


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="machine-setup-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def file(self, name, data, executable=False):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        if executable:
            os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
        return path

    def loader(self, kind, name):
        """A fake loader: "ok" starts, "enoexec" is refused by the kernel,
        "broken" starts and fails, "missing" does not exist."""
        if kind == "ok":
            return self.file(name, b"#!/bin/sh\necho wine-fake\n", True)
        if kind == "enoexec":
            return self.file(name, FOREIGN_ELF, True)
        if kind == "broken":
            return self.file(name, b"#!/bin/sh\necho 'error while loading shared libraries' >&2\n"
                             b"echo 'second line' >&2\nexit 127\n", True)
        return os.path.join(self.dir, "absent", name)

    def run_tool(self, args, loader32="ok", loader64="ok", **env):
        environment = dict(os.environ)
        for name in ("WINEPREFIX", "WINE_RUN_ARCH", "WINDOWS_TEST_ARCH"):
            environment.pop(name, None)
        environment["WINE_RUN_LOADER_I686"] = self.loader(loader32, "wine")
        environment["WINE_RUN_LOADER_X86_64"] = self.loader(loader64, "wine64")
        environment.update(env)
        proc = subprocess.run(args, cwd=self.dir, env=environment, capture_output=True,
                              text=True, timeout=60)
        return proc.returncode, proc.stdout, proc.stderr


class WineRunTest(Case):
    def wine_run(self, *args, **kw):
        return self.run_tool([os.path.join(SOURCE, "tools", "wine-run"), *args], **kw)

    def test_the_pe_header_names_the_architecture(self):
        cases = [
            ("i386", pe_image(I386), 0, "i686"),
            ("amd64", pe_image(AMD64), 0, "x86_64"),
            ("arm64", pe_image(ARM64), 125, ""),
            ("no PE signature", pe_image(I386).replace(b"PE\0\0", b"NE\0\0"), 125, ""),
            ("an ELF file", FOREIGN_ELF, 125, ""),
            ("cut short", pe_image(AMD64)[:66], 125, ""),
        ]
        for name, data, status, out in cases:
            with self.subTest(name):
                path = self.file("prog.exe", data)
                code, stdout, stderr = self.wine_run("--arch", path)
                self.assertEqual((code, stdout.strip()), (status, out), stderr)

    def test_a_32_bit_program_on_a_machine_without_32_bit_support_is_refused_in_one_line(self):
        program = self.file("prog.exe", pe_image(I386))
        windows_path = "Z:" + program.replace("/", "\\")
        # The program itself, or named inside a desktop's command line.
        for args in ([program, "arg"], ["explorer", "/desktop=d,640x480", windows_path]):
            with self.subTest(args[0]):
                prefix = os.path.join(self.dir, "prefix")
                code, stdout, stderr = self.wine_run(*args, loader32="enoexec", WINEPREFIX=prefix)
                self.assertEqual(code, 125)
                self.assertEqual(stdout, "")
                lines = stderr.splitlines()
                self.assertEqual(len(lines), 1, stderr)
                self.assertIn("cannot run %s, a 32-bit program" % program, lines[0])
                self.assertIn("this machine cannot run 32-bit programs", lines[0])
                self.assertIn("Exec format error", lines[0])
                self.assertNotIn("wineboot", lines[0])
                # Refused before the prefix or its lock was made.
                self.assertFalse(os.path.exists(prefix))
                self.assertFalse(os.path.exists(prefix + ".lock"))

    def test_check_names_the_cause_for_each_loader(self):
        cases = [
            ("i686", "ok", 0, None),
            ("x86_64", "ok", 0, None),
            ("i686", "enoexec", 1, "this machine cannot run 32-bit programs"),
            ("x86_64", "enoexec", 1, "this machine cannot run 64-bit x86 programs"),
            ("i686", "missing", 1, "32-bit Wine is not installed"),
            ("x86_64", "missing", 1, "64-bit Wine is not installed"),
            ("i686", "broken", 1, "does not start: error while loading shared libraries"),
        ]
        for arch, kind, status, cause in cases:
            with self.subTest(arch=arch, loader=kind):
                loaders = {"loader32": kind} if arch == "i686" else {"loader64": kind}
                code, stdout, stderr = self.wine_run("--check", arch, **loaders)
                self.assertEqual(code, status, stderr)
                if cause is None:
                    self.assertEqual(stderr, "")
                else:
                    self.assertEqual(len(stderr.splitlines()), 1, stderr)
                    self.assertIn(cause, stderr)

    def test_a_prefix_of_the_other_architecture_is_refused(self):
        prefix = os.path.join(self.dir, "prefix")
        os.mkdir(prefix)
        self.file("prefix/system.reg", b"WINE REGISTRY Version 2\n#arch=win32\n")
        program = self.file("prog.exe", pe_image(AMD64))
        code, _, stderr = self.wine_run(program, WINEPREFIX=prefix)
        self.assertEqual(code, 125)
        self.assertIn("the prefix %s is win32, and a 64-bit program needs a win64 one" % prefix,
                      stderr)

    def test_without_a_program_the_architecture_must_be_named(self):
        code, _, stderr = self.wine_run("explorer", "/desktop=d,640x480")
        self.assertEqual(code, 125)
        self.assertIn("set WINE_RUN_ARCH", stderr)
        # Named, it is checked like a program's.
        code, _, stderr = self.wine_run("explorer", loader32="enoexec", WINE_RUN_ARCH="i686")
        self.assertEqual(code, 125)
        self.assertIn("this machine cannot run 32-bit programs", stderr)


class RunTestsChoiceTest(Case):
    def choose(self, loader32, loader64, wanted=None):
        env = {} if wanted is None else {"WINDOWS_TEST_ARCH": wanted}
        return self.run_tool([os.path.join(SOURCE, "tools", "run-tests"), "--choose-windows-arch"],
                             loader32=loader32, loader64=loader64, **env)

    def test_the_choice_and_its_reason(self):
        ran = "run-tests: Windows tests on "
        cases = [
            # 32-bit, 64-bit, WINDOWS_TEST_ARCH, status, the line
            ("ok", "ok", None, 0, ran + "i686: this machine runs 32-bit programs"),
            ("ok", "missing", None, 0, ran + "i686: this machine runs 32-bit programs"),
            ("enoexec", "ok", None, 0,
             ran + "x86_64: this machine cannot run 32-bit programs"),
            ("missing", "ok", None, 0, ran + "x86_64: 32-bit Wine is not installed"),
            ("enoexec", "ok", "x86_64", 0, ran + "x86_64: WINDOWS_TEST_ARCH=x86_64"),
            ("ok", "ok", "x86_64", 0, ran + "x86_64: WINDOWS_TEST_ARCH=x86_64"),
            ("ok", "ok", "i686", 0, ran + "i686: WINDOWS_TEST_ARCH=i686"),
            ("ok", "ok", "both", 0, ran + "i686 and x86_64: WINDOWS_TEST_ARCH=both"),
            # Nothing skipped silently: what cannot run fails, saying why.
            ("enoexec", "missing", None, 1,
             "run-tests: no Windows tests can run: this machine cannot run 32-bit programs"),
            ("enoexec", "ok", "i686", 1,
             "run-tests: WINDOWS_TEST_ARCH=i686, but this machine cannot run 32-bit programs"),
            ("ok", "missing", "both", 1,
             "run-tests: WINDOWS_TEST_ARCH=both, but 64-bit Wine is not installed"),
            ("ok", "ok", "arm", 1, "run-tests: WINDOWS_TEST_ARCH is arm; it must be"),
        ]
        for loader32, loader64, wanted, status, line in cases:
            with self.subTest(loader32=loader32, loader64=loader64, wanted=wanted):
                code, stdout, stderr = self.choose(loader32, loader64, wanted)
                self.assertEqual(code, status, stderr)
                output = stdout if status == 0 else stderr
                self.assertEqual(len(output.splitlines()), 1, output)
                self.assertTrue(output.startswith(line), output)
        # Where neither runs, the line names what is missing for each.
        _, _, stderr = self.choose("enoexec", "missing")
        self.assertIn("Exec format error", stderr)
        self.assertIn("64-bit Wine is not installed", stderr)


class BootstrapTest(Case):
    """tools/bootstrap.sh with dpkg-query, dpkg, apt-get and id replaced by
    scripts that log their arguments; `installed` says what dpkg-query finds."""

    def bootstrap(self, *args, installed=False):
        work = tempfile.mkdtemp(dir=self.dir)
        bin_dir = os.path.join(work, "bin")
        os.mkdir(bin_dir)
        log = os.path.join(work, "calls")
        scripts = {
            "dpkg-query": "echo 'install ok installed'\n" if installed else "exit 1\n",
            "dpkg": 'echo "dpkg $*" >>"$CALLS"\n',
            "apt-get": 'echo "apt-get $*" >>"$CALLS"\n',
            "id": "echo 0\n",
        }
        for name, body in scripts.items():
            self.file(os.path.join(bin_dir, name), ("#!/bin/sh\n" + body).encode(), True)
        env = dict(os.environ, PATH=bin_dir + ":" + os.environ["PATH"], CALLS=log)
        proc = subprocess.run([os.path.join(SOURCE, "tools", "bootstrap.sh"), *args], env=env,
                              capture_output=True, text=True, timeout=60)
        calls = []
        if os.path.exists(log):
            with open(log) as f:
                calls = f.read().splitlines()
        installs = [c.split() for c in calls if c.startswith("apt-get") and " install " in c]
        packages = set(installs[0][installs[0].index("--no-install-recommends") + 1:]) \
            if installs else set()
        return proc.returncode, calls, packages

    NATIVE = {"build-essential", "cmake", "ninja-build", "git", "python3", "googletest",
              "libgtest-dev", "libgmock-dev"}

    def test_the_native_mode_installs_the_native_build_only(self):
        for args in ([], ["native"]):
            with self.subTest(args=args):
                code, calls, packages = self.bootstrap(*args)
                self.assertEqual(code, 0)
                self.assertEqual(packages, self.NATIVE)
                self.assertFalse([c for c in calls if "--add-architecture" in c], calls)

    def test_all_adds_both_windows_toolchains_wine_and_the_browser(self):
        code, calls, packages = self.bootstrap("all")
        self.assertEqual(code, 0)
        self.assertLessEqual(self.NATIVE, packages)
        for wanted in ("g++-mingw-w64-i686", "g++-mingw-w64-x86-64", "binutils-mingw-w64-x86-64",
                       "mingw-w64-x86-64-dev", "wine32:i386", "wine64", "xvfb", "clang",
                       "chromium"):
            self.assertIn(wanted, packages)
        self.assertIn("dpkg --add-architecture i386", calls)

    def test_nothing_missing_installs_nothing(self):
        code, calls, _ = self.bootstrap("all", installed=True)
        self.assertEqual((code, calls), (0, []))

    def test_an_unknown_mode_is_refused(self):
        code, calls, _ = self.bootstrap("everything")
        self.assertEqual((code, calls), (2, []))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    options, rest = parser.parse_known_args()
    SOURCE = os.path.abspath(options.source)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=1)
