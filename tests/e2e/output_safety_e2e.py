#!/usr/bin/env python3
"""End-to-end: every kind of output target, for litpack (-o OUTPUT) and
litrank (--html FILE) alike.

An output appears only once it is whole, in a new file (mode 0600) that
replaces the target; a link at the target is replaced, not followed; an
output that is an input is refused before anything is touched; directories,
missing and read-only directories fail with the program's message; streams
and devices are written in place; an interrupted or failed run leaves no
new file behind and the target as it was. Runs the built programs, also
under a runner such as Wine (cases that the runner cannot show are skipped
with the reason).
"""
import os
import resource
import signal
import stat
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import Run, ScratchCase, parse_options, rec, run_tests  # noqa: E402

OPTIONS = None  # set by main()

SQL = b"select 1;\nselect 2;\n"
RECORDS = rec(1, "select 1") + rec(2, "select 2")
REPORT = b"1\t1\t2\t1\r\n2\t1\t2\t1\r\n"  # litsieve's report of RECORDS
OLD = b"the target's old content\n"


class Program:
    """How one program is pointed at an output, and what it says."""

    def __init__(self, name):
        self.name = name
        self.exe = getattr(OPTIONS, name)

    def args(self, target):
        if self.name == "litpack":  # the format given: no note of a detected one
            return ["--from", "sql", "-o", target, "in.sql"]
        return ["--quiet", "--html", target, "in.rec", "report.txt"]

    def inputs(self):
        """The files the run reads, which no output may touch."""
        return ["in.sql"] if self.name == "litpack" else ["in.rec", "report.txt"]

    def good_output(self, data):
        if self.name == "litpack":
            return data == RECORDS
        return data.startswith(b"<!DOCTYPE html>") and data.endswith(b"</html>\n")

    def is_input(self, target):
        if self.name == "litpack":
            return b"litpack: can't write %s: it is also an input\n" % target.encode()
        return b"Can't write %s file: it is also an input.\n" % target.encode()

    def cannot_open(self, target, reason):
        if self.name == "litpack":
            return b"litpack: can't open %s: %s\n" % (target.encode(), reason)
        return b"Can't open %s file.\n" % target.encode()

    def cannot_write(self, target, reason):
        if self.name == "litpack":
            return b"litpack: can't write %s: %s\n" % (target.encode(), reason)
        return b"Can't write %s file.\n" % target.encode()


def others_can_run(path):
    """True when a user who is neither the owner nor in the group can run
    the file at `path`: every directory above it searchable by others."""
    path = os.path.abspath(path)
    while True:
        if not os.stat(path).st_mode & stat.S_IXOTH:
            return False
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent


def programs():
    return [Program("litpack"), Program("litrank")]


class OutputCase(ScratchCase):
    PREFIX = "output-e2e-"

    def setUp(self):
        super().setUp()
        self.write("in.sql", SQL)
        self.write("in.rec", RECORDS)
        self.write("report.txt", REPORT)

    def run_program(self, program, args, stdout=subprocess.PIPE, **extra):
        cmd = OPTIONS.runner + [program.exe] + list(args)
        return Run(subprocess.run(cmd, stdout=stdout, stderr=subprocess.PIPE, cwd=self.dir,
                                  timeout=600, **extra))

    def snapshot(self):
        """Every entry of the scratch directory: kind and content."""
        seen = {}
        for root, dirs, files in os.walk(self.dir):
            for name in dirs + files:
                path = os.path.join(root, name)
                key = os.path.relpath(path, self.dir)
                if os.path.islink(path):
                    seen[key] = ("link", os.readlink(path))
                elif os.path.isdir(path):
                    seen[key] = ("dir", None)
                elif stat.S_ISFIFO(os.stat(path).st_mode):
                    seen[key] = ("fifo", None)
                else:
                    with open(path, "rb") as f:
                        seen[key] = ("file", f.read())
        return seen


class TargetTable(OutputCase):
    """One table of targets, each run with both programs."""

    def new_file(self, program):
        return "out.dat", None

    def existing_file(self, program):
        self.write("out.dat", OLD)
        os.chmod(self.path("out.dat"), 0o666)
        return "out.dat", None

    def link_at_target(self, program):
        os.mkdir(self.path("elsewhere"))
        self.write("elsewhere/victim", OLD)
        os.symlink(os.path.join("elsewhere", "victim"), self.path("shared.dat"))
        return "shared.dat", None

    def dangling_link(self, program):
        os.symlink("nowhere", self.path("out.dat"))
        return "out.dat", None

    def the_input(self, program):
        return program.inputs()[0], "input"

    def the_input_spelled_otherwise(self, program):
        return "./" + program.inputs()[0], "input"

    def the_last_input(self, program):  # litrank's report
        return program.inputs()[-1], "input"

    def hard_link_to_input(self, program):
        os.link(self.path(program.inputs()[0]), self.path("hard.dat"))
        return "hard.dat", "input"

    def link_to_input(self, program):
        os.symlink(program.inputs()[0], self.path("link.dat"))
        return "link.dat", "input"

    def directory(self, program):
        os.mkdir(self.path("adir"))
        return "adir", b"Is a directory"

    def missing_directory(self, program):
        return "missing/out.dat", b"No such file or directory"

    CASES = ["new_file", "existing_file", "link_at_target", "dangling_link", "the_input",
             "the_input_spelled_otherwise", "the_last_input", "hard_link_to_input",
             "link_to_input", "directory", "missing_directory"]

    def test_targets(self):
        for program in programs():
            for case in self.CASES:
                with self.subTest(program=program.name, case=case):
                    self.tearDown()
                    self.setUp()
                    target, failure = getattr(self, case)(program)
                    self.check(program, target, failure)

    def check(self, program, target, failure):
        before = self.snapshot()
        run = self.run_program(program, program.args(target))
        after = self.snapshot()
        if failure is None:
            self.assertEqual((run.status, run.stderr.startswith(b"litpack: wrote")),
                             (0, program.name == "litpack"), run.stderr)
            path = self.path(target)
            self.assertFalse(os.path.islink(path), "the link is replaced, not followed")
            with open(path, "rb") as f:
                self.assertTrue(program.good_output(f.read()))
            if os.name == "posix" and not OPTIONS.runner:
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
            before.pop(target, None)
            after.pop(target, None)
            self.assertEqual(after, before, "nothing else changed, no new file left")
            return
        self.assertEqual(run.status, 2)
        if failure == "input":
            self.assertEqual(run.stderr, program.is_input(target))
        else:
            self.assertEqual(run.stderr, program.cannot_open(target, failure))
        self.assertEqual(after, before, "a refused or failed output touches nothing")


class StreamTest(OutputCase):
    def test_standard_output_and_devices(self):
        for program in programs():
            for target in ("-", "/dev/stdout"):
                with self.subTest(program=program.name, target=target):
                    before = self.snapshot()
                    run = self.run_program(program, program.args(target))
                    self.assertEqual(run.status, 0, run.stderr)
                    if program.name == "litpack":
                        self.assertEqual(run.stdout, RECORDS)
                    else:  # the page, then the listing
                        self.assertTrue(run.stdout.startswith(b"<!DOCTYPE html>"))
                        self.assertIn(b"</html>\nin.rec: 2 records in 1 groups", run.stdout)
                    self.assertEqual(self.snapshot(), before)
            with self.subTest(program=program.name, target="/dev/null"):
                run = self.run_program(program, program.args("/dev/null"))
                self.assertEqual(run.status, 0, run.stderr)

    def test_standard_output_that_is_an_input(self):
        if OPTIONS.runner:
            self.skipTest("Wine gives the standard handles it makes from the host's descriptors "
                          "no file identity")
        for program in programs():
            with self.subTest(program=program.name):
                before = self.snapshot()
                args = program.args("-")
                if program.name == "litrank":
                    args = ["--quiet", "in.rec"]
                with open(self.path(program.inputs()[0]), "ab") as appended:
                    run = self.run_program(program, args, stdout=appended)
                self.assertEqual(run.status, 2)
                if program.name == "litpack":
                    message = b"litpack: can't write standard output: it is also an input\n"
                else:
                    message = b"Can't write standard output: it is also an input.\n"
                self.assertEqual(run.stderr, message)
                self.assertEqual(self.snapshot(), before)

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_full_device(self):
        for program in programs():
            with self.subTest(program=program.name):
                before = self.snapshot()
                run = self.run_program(program, program.args("/dev/full"))
                self.assertEqual((run.status, run.stderr),
                                 (2, program.cannot_write("/dev/full", b"No space left on device")))
                self.assertEqual(self.snapshot(), before, "no partial file")


@unittest.skipUnless(os.name == "posix", "POSIX permissions and limits")
class NativeLimitTest(OutputCase):
    """Cases only a native run can set up: another user's rights and
    resource limits apply to the runner, not to the program, under Wine."""

    def setUp(self):
        if OPTIONS.runner:
            self.skipTest("limits and users would apply to the runner")
        super().setUp()

    def test_read_only_directory(self):
        os.mkdir(self.path("ro"))
        os.chmod(self.path("ro"), 0o555)
        demote = None
        if os.geteuid() == 0:  # root writes anywhere: run as nobody
            os.chmod(self.dir, 0o755)
            for exe in (OPTIONS.litpack, OPTIONS.litrank):
                if not others_can_run(exe):
                    self.skipTest("the programs are not reachable for another user")

            def demote():
                os.setgid(65534)
                os.setuid(65534)
        for program in programs():
            with self.subTest(program=program.name):
                before = self.snapshot()
                run = self.run_program(program, program.args("ro/out.dat"), preexec_fn=demote)
                self.assertEqual((run.status, run.stderr),
                                 (2, program.cannot_open("ro/out.dat", b"Permission denied")))
                self.assertEqual(self.snapshot(), before)

    def test_disk_full_on_the_new_file(self):
        """A file size limit makes the new file's writes fail, as a full disk
        would: the old target stays, no new file is left. Killed by the limit's
        signal instead, the run leaves none either."""
        self.write("in.sql", b"select %d from t;\n" % 10 ** 20 * 2000)
        # Distinct statements: no group is shared, litsieve's report is empty.
        self.write("in.rec", b"".join(rec(i, "select c%d from t" % i) for i in range(2000)))
        self.write("report.txt", b"")

        def limited(ignore_signal):
            def apply():
                resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN if ignore_signal else signal.SIG_DFL)
            return apply
        for program in programs():
            for ignore in (True, False):
                with self.subTest(program=program.name, signal_ignored=ignore):
                    self.write("out.dat", OLD)
                    before = self.snapshot()
                    run = self.run_program(program, program.args("out.dat"),
                                           preexec_fn=limited(ignore), restore_signals=False)
                    if ignore:
                        self.assertEqual((run.status, run.stderr),
                                         (2, program.cannot_write("out.dat", b"File too large")))
                    else:
                        self.assertEqual(run.status, -signal.SIGXFSZ & 0xFF, "ends by the signal")
                    self.assertEqual(self.snapshot(), before)

    def test_memory_is_bounded_by_the_longest_statement(self):
        """Under an address-space limit smaller than the input, litpack packs
        it; a single statement larger than the limit ends with "Not enough
        memory", status 1, and no output."""
        if "ASAN_OPTIONS" in os.environ or "TSAN_OPTIONS" in os.environ or \
                not sys.platform.startswith("linux"):
            self.skipTest("address-space limit: native Linux builds without a sanitizer")
        limit = 32 << 20
        statement = b"select * from t where id = 12345 and name = 'abcdef';\n"
        self.write("many.sql", statement * (48 * 1024 * 1024 // len(statement)))
        self.write("huge.sql", b"select '" + b"x" * (40 << 20) + b"';\n")

        def limited():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        packer = Program("litpack")
        run = self.run_program(packer, ["--from", "sql", "-o", "many.rec", "many.sql"],
                               preexec_fn=limited)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(os.path.getsize(self.path("many.rec")),
                         os.path.getsize(self.path("many.sql")) // len(statement) *
                         (8 + len(statement) - 2))
        self.write("huge.rec", OLD)
        before = self.snapshot()
        run = self.run_program(packer, ["--from", "sql", "-o", "huge.rec", "huge.sql"],
                               preexec_fn=limited)
        self.assertEqual((run.status, run.stderr), (1, b"Not enough memory\n"))
        self.assertEqual(self.snapshot(), before)


class InterruptTest(OutputCase):
    """A run stopped while its new file is open leaves none behind: the
    program waits on a pipe for the rest of its input while it is stopped."""

    def program_pids(self, proc, program):
        """The program's own process: itself natively; under a runner, the
        process of its group that runs the program's file."""
        if not OPTIONS.runner:
            return [proc.pid]
        found = []
        exe = os.path.basename(program.exe).encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == proc.pid:
                continue
            try:
                if os.getpgid(int(entry)) != proc.pid:
                    continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    if exe in f.read():
                        found.append(int(entry))
            except OSError:
                continue
        return found

    def test_interrupted_write(self):
        for program in programs():
            for signal_number in (signal.SIGINT, signal.SIGTERM):
                with self.subTest(program=program.name, signal=signal_number):
                    self.write("out.dat", OLD)
                    before = self.snapshot()
                    # litpack reads standard input, litrank a FIFO: both wait
                    # for the rest of their input with the new file open.
                    fifo = None
                    if program.name == "litpack":
                        args, head = ["--from", "sql", "-o", "out.dat", "-"], SQL
                    else:
                        fifo = self.path("in.fifo")
                        os.mkfifo(fifo)
                        before = self.snapshot()
                        # Held open for writing (read-write: Linux opens that
                        # at once) before the program opens it, so that its
                        # reads wait for data rather than see an end.
                        writer = os.open(fifo, os.O_RDWR)
                        args, head = ["--quiet", "--html", "out.dat", "in.fifo"], RECORDS
                    proc = subprocess.Popen(OPTIONS.runner + [program.exe] + args, cwd=self.dir,
                                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.PIPE, start_new_session=True)
                    deadline = time.time() + 120
                    os.write(writer if fifo else proc.stdin.fileno(), head)
                    while len(os.listdir(self.dir)) == len(before) and time.time() < deadline:
                        time.sleep(0.05)
                    new = sorted(set(os.listdir(self.dir)) - set(before))
                    self.assertEqual(len(new), 1, "the new file while the run goes on")
                    self.assertTrue(new[0].startswith(".out.dat.") and new[0].endswith(".tmp"),
                                    new)
                    time.sleep(0.2)
                    pids = self.program_pids(proc, program)
                    self.assertTrue(pids, "the program's process")
                    for pid in pids:
                        os.kill(pid, signal_number)
                    proc.wait(timeout=120)
                    errors = proc.stderr.read()
                    proc.stdin.close()
                    proc.stderr.close()
                    if fifo:
                        os.close(writer)
                    if OPTIONS.runner:
                        # Wine ends a program on SIGINT with status 0; that
                        # it did not finish shows in what it left.
                        self.assertNotIn(b"wrote", errors)
                    else:
                        self.assertEqual(proc.returncode, -signal_number, "ends by the signal")
                    self.assertEqual(self.snapshot(), before)
                    if fifo:
                        os.unlink(fifo)


class FailedInputTest(OutputCase):
    def test_missing_input_leaves_the_output_as_it_was(self):
        self.write("out.dat", OLD)
        before = self.snapshot()
        packer = Program("litpack")
        run = self.run_program(packer, ["-o", "out.dat", "in.sql", "missing.sql"])
        self.assertEqual((run.status, run.stderr),
                         (1, b"litpack: can't open missing.sql: No such file or directory\n"))
        self.assertEqual(self.snapshot(), before)
        ranker = Program("litrank")
        self.write("bad.rec", RECORDS + b"\x01\x02")
        before = self.snapshot()
        run = self.run_program(ranker, ["--quiet", "--html", "out.dat", "bad.rec"])
        self.assertEqual(run.status, 255)
        self.assertEqual(self.snapshot(), before)

    def test_names_in_messages_are_escaped(self):
        # Windows programs get their arguments in the ANSI code page, where
        # U+202E is "?": under a runner the name carries C0 controls only,
        # which Windows refuses in file names.
        name, shown = "in\x1b[2J\x07.sql", b"in\\x1B[2J\\x07.sql"
        reason = b"Invalid argument"
        if not OPTIONS.runner:
            name, shown = name + "\u202e", shown + b"\\u{202E}"
            reason = b"No such file or directory"
        for program, message in (
                (Program("litpack"), b"litpack: can't open %s: %s\n" % (shown, reason)),
                (Program("litrank"), b"Can't open %s file.\n" % shown)):
            with self.subTest(program=program.name):
                run = self.run_program(program, ["-o", "out.dat", name]
                                       if program.name == "litpack" else [name])
                self.assertEqual((run.status & 0xFF, run.stderr),
                                 (1 if program.name == "litpack" else 255, message))


def main():
    global OPTIONS
    OPTIONS, rest = parse_options(["litpack", "litrank"])
    run_tests(rest)


if __name__ == "__main__":
    main()
