"""Shared helpers of the Win32 end-to-end tests: runs zavo.exe under Wine in
a private program folder with its own settings, reads and writes zpack
archives, and turns Linux paths into the Windows paths Wine shows for them
(drive Z: is the Linux root in a Wine prefix)."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import sys
import unittest

# The tree helpers are the POSIX end-to-end tests' own.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zavo_e2e import VERSION, write_tree  # noqa: E402

ZAVO_EXE = os.environ["ZAVO_EXE"]
ZPACK_EXE = os.environ["ZPACK_EXE"]
WINE = shutil.which("wine") or shutil.which("wine64")

BANNER = b"\r\nOrlo's archive converter v%s\r\n\r\n" % VERSION.encode()
USAGE = (b"usage: zavo [/r] [/n] [/k] [/j:N] [--shard K/N] [--report FILE] <filemask>\r\n"
         b"\r\n"
         b"       /r - recursive scan (with subfolders)\r\n"
         b"       /n - convert nested archives\r\n"
         b"       /k - don't keep archive filetime\r\n"
         b"       /j:N - convert N archives at once (0: one per processor)\r\n"
         b"       --shard K/N - convert only the folders of shard K of N\r\n"
         b"       --report FILE - append a JSON line per archive to FILE\r\n")

# zpack for the target kind and for one source kind, a kind unpacked by
# cmd.exe's own "copy", and one whose extraction always fails.
ARCHIVERS = (
    "[zpb]\r\n"
    "extension = zpb\r\n"
    'add = zpack a "@ArcName" @FileName\r\n'
    'test = zpack t "@ArcName"\r\n'
    "\r\n"
    "[zpa]\r\n"
    "extension = zpa\r\n"
    'extract = zpack x "@ArcName" @FileName\r\n'
    "\r\n"
    "[one]\r\n"
    "extension = one\r\n"
    'extract = copy "@ArcName" content.txt >nul\r\n'
    "\r\n"
    "[bad]\r\n"
    "extension = bad\r\n"
    "extract = exit 5\r\n")


_keeper = None


def setUpModule():
    """Starts a Windows program that idles for the whole module. Wine's
    server and service processes start with the first Windows program and
    outlive the last one by seconds; started by one with no pipes of ours,
    they keep running for every test and never hold a test's output open."""
    global _keeper
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 env=dict(os.environ, WINEDEBUG="-all", DISPLAY=""))
    _keeper = subprocess.Popen([WINE, "cmd"], stdin=subprocess.PIPE, **quiet)
    # Once a program has run to its end, the services are up; before that a
    # test's program could be the one that starts them.
    subprocess.run([WINE, "cmd", "/C", "exit"], stdin=subprocess.DEVNULL,
                   timeout=300, **quiet)


def tearDownModule():
    _keeper.stdin.close()  # cmd ends at the end of its input
    _keeper.wait(timeout=60)


def win(path):
    """The Windows path of a Linux path under Wine."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fnv(data):
    h = 2166136261
    for c in data:
        h = ((h ^ c) * 16777619) & 0xFFFFFFFF
    return h


def zpack(files):
    """An archive of {name: bytes, or None for a folder}; "\\" in names."""
    out = bytearray(b"ZPK1")
    for name in sorted(files):
        raw = name.encode()
        data = files[name]
        if data is None:
            out += b"D" + struct.pack("<H", len(raw)) + raw
        else:
            out += (b"F" + struct.pack("<H", len(raw)) + raw +
                    struct.pack("<Q", len(data)) + data)
    return bytes(out + b"E" + struct.pack("<I", fnv(out)))


def unzpack(data):
    """{name: bytes or None} of an archive; raises ValueError when damaged."""
    if data[:4] != b"ZPK1":
        raise ValueError("no zpack archive")
    pos, files = 4, {}
    while True:
        kind = data[pos:pos + 1]
        pos += 1
        if kind == b"E":
            if struct.unpack_from("<I", data, pos)[0] != fnv(data[:pos - 1]):
                raise ValueError("bad sum")
            return files
        (length,) = struct.unpack_from("<H", data, pos)
        name = data[pos + 2:pos + 2 + length].decode()
        pos += 2 + length
        if kind == b"D":
            files[name] = None
        elif kind == b"F":
            (size,) = struct.unpack_from("<Q", data, pos)
            files[name] = data[pos + 8:pos + 8 + size]
            pos += 8 + size
        else:
            raise ValueError("bad record")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class ZavoTest(unittest.TestCase):
    """Each test gets a scratch folder with a program folder holding its own
    zavo.exe, zavo.ctl and archivers file, and zpack.exe on the PATH."""

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="zavo_w32_")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.program = os.path.join(self.scratch, "program")
        self.bin = os.path.join(self.scratch, "bin")
        os.makedirs(self.program)
        os.makedirs(self.bin)
        shutil.copy(ZAVO_EXE, os.path.join(self.program, "zavo.exe"))
        shutil.copy(ZPACK_EXE, os.path.join(self.bin, "zpack.exe"))
        with open(os.path.join(self.program, "archivers.ini"), "w",
                  newline="") as f:
            f.write(ARCHIVERS)
        self.settings("")

    def settings(self, text):
        with open(os.path.join(self.program, "zavo.ctl"), "w",
                  newline="") as f:
            f.write("Archives archivers.ini\r\n" + text)

    def zavo(self, *args, cwd=None):
        """Runs zavo.exe; returns (exit code, standard output bytes)."""
        env = dict(os.environ, WINEDEBUG="-all", DISPLAY="",
                   WINEPATH=win(self.bin))
        r = subprocess.run([WINE, os.path.join(self.program, "zavo.exe")] +
                           list(args), cwd=cwd or self.scratch, env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=300)
        # Kept for the messages of a failed comparison: the archivers' own
        # complaints reach only standard error when jobs collect them.
        self.last_output = r.stdout
        self.last_errors = r.stderr
        return r.returncode, r.stdout

    def assertExit(self, want, code):
        """Checks an exit code; a wrong one is shown with the run's output."""
        self.assertEqual(want, code, "output:\n%s\nstandard error:\n%s" % (
            self.last_output.decode("latin-1"),
            self.last_errors.decode("latin-1")))

    def assertLines(self, patterns, output):
        """Compares CR LF lines with patterns: a str is the exact line, an
        re.Pattern must match the whole line."""
        text = output.decode("latin-1")
        errors = getattr(self, "last_errors", b"").decode("latin-1")
        shown = "%s\nstandard error:\n%s" % (text, errors)
        self.assertTrue(output.endswith(b"\r\n"), shown)
        lines = text[:-2].split("\r\n")
        self.assertNotIn("\n", "".join(lines), shown)
        for i, (want, got) in enumerate(zip(patterns, lines)):
            if isinstance(want, str):
                self.assertEqual(want, got, "line %d of\n%s" % (i, shown))
            else:
                self.assertTrue(want.fullmatch(got),
                                "line %d: %r of\n%s" % (i, got, shown))
        self.assertEqual(len(patterns), len(lines), shown)

    def leftovers(self, root):
        """Work folders and temporary files left anywhere below root."""
        found = []
        for folder, dirs, files in os.walk(root):
            found += [d for d in dirs if d.endswith(".tmp")]
            found += [f for f in files if f.endswith((".tmp", ".zvt"))]
        return found


HEX8 = "[0-9a-f]{8}"


def line(*parts):
    """A pattern of literal parts, with HEX8 standing for a drawn name."""
    return re.compile("".join(p if p == HEX8 else re.escape(p)
                              for p in parts))
