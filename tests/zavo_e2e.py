"""Shared helpers of the end-to-end tests: a private copy of the built
program with its own settings, archive makers that use the real Debian
archivers, and tree comparisons."""

import os
import shutil
import stat
import struct
import subprocess
import tempfile
import unittest

ZAVO = os.environ.get("ZAVO_BINARY") or os.path.join(
    os.path.dirname(__file__), "..", "build", "zavo")
SOURCE = os.environ.get("ZAVO_SOURCE_DIR") or os.path.join(
    os.path.dirname(__file__), "..")
DEFAULT_ARCHIVERS = os.environ.get("ZAVO_TEST_ARCHIVERS") or os.path.join(
    SOURCE, "data", "posix", "archivers.ini")

with open(os.path.join(SOURCE, "VERSION")) as _f:
    VERSION = _f.read().strip()
BANNER = ["", "Orlo's archive converter v" + VERSION, ""]


def write_tree(root, files):
    """Writes {relative path: bytes or None}; None makes an empty folder."""
    for rel, data in files.items():
        path = os.path.join(root, rel)
        if data is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def read_tree(root):
    """{relative path: bytes, or None for a folder} of everything below root."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(folder, d), root)] = None
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def write_lzh(path, files):
    """Writes an lzh archive of stored (-lh0-) members with level-0 headers:
    Debian has no lzh packer, and the format is simple enough to write."""
    out = bytearray()
    for rel, data in files:
        name = rel.replace("/", "\\").encode("latin-1")
        dos_time = 12 << 11
        dos_date = ((2000 - 1980) << 9) | (1 << 5) | 1
        body = (b"-lh0-" + struct.pack("<IIHHBB", len(data), len(data), dos_time,
                                       dos_date, 0x20, 0)
                + bytes([len(name)]) + name + struct.pack("<H", crc16(data)))
        out += bytes([len(body), sum(body) & 0xFF]) + body + data
    out += b"\0"
    with open(path, "wb") as f:
        f.write(out)


def with_folders(files):
    """The tree `files` makes once unpacked: every parent folder listed."""
    tree = dict(files)
    for rel in files:
        parts = rel.split("/")
        for i in range(1, len(parts)):
            tree.setdefault("/".join(parts[:i]), None)
    return tree


def run(args, cwd, timeout=120, **kw):
    return subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                          timeout=timeout, **kw)


SAMPLE_FILES = {
    "README": b"no extension\n",
    ".profile": b"a dot file\n",
    "a/b/c.txt": b"deep file\n" * 100,
    "empty": None,
    "bin.dat": bytes(range(256)) * 40,
}


class Archives:
    """Makes real archives of `files` with the Debian archivers."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.count = 0

    def _stage(self, files):
        self.count += 1
        stage = os.path.join(self.scratch, "stage%d" % self.count)
        os.makedirs(stage)
        write_tree(stage, files)
        return stage

    def make(self, kind, path, files=None):
        files = SAMPLE_FILES if files is None else files
        stage = self._stage(files)
        path = os.path.abspath(path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if kind == "zip":
            run(["zip", "-qr", "-y", path, "."], stage)
        elif kind == "7z":
            run(["7z", "a", "-bd", "-y", path, "."], stage)
        elif kind == "arj":
            # arj hangs on names that begin with a dot, keeps no empty
            # folders and wants files, not folders, named.
            names = sorted(rel for rel, data in read_tree(stage).items()
                           if data is not None and not any(
                               part.startswith(".") for part in rel.split("/")))
            run(["arj", "a", "-y", path] + names, stage, timeout=60)
        elif kind == "lzh":
            write_lzh(path, [(rel, data) for rel, data in
                             sorted(read_tree(stage).items()) if data is not None])
        elif kind in ("tar", "tar.gz", "tar.bz2", "tar.xz"):
            flag = {"tar": "", "tar.gz": "z", "tar.bz2": "j", "tar.xz": "J"}[kind]
            run(["tar", "-c%sf" % flag, path, "."], stage)
        else:
            raise ValueError(kind)
        shutil.rmtree(stage)
        return path


def unpack_7z(archive, into):
    os.makedirs(into, exist_ok=True)
    run(["7z", "x", "-bd", "-y", "-o" + into, archive], into)
    return read_tree(into)


class ZavoCase(unittest.TestCase):
    """A test with a private program folder (zavo, zavo.ctl, archivers.ini)
    and an archive folder."""

    settings = "KeepTime yes\nFileList descript.ion\n"

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zavo_e2e_")
        os.chmod(self.root, 0o755)
        self.prog = os.path.join(self.root, "prog")
        self.arc = os.path.join(self.root, "arc")
        self.scratch = os.path.join(self.root, "scratch")
        for d in (self.prog, self.arc, self.scratch):
            os.makedirs(d)
        shutil.copy2(ZAVO, os.path.join(self.prog, "zavo"))
        shutil.copy(DEFAULT_ARCHIVERS, os.path.join(self.prog, "archivers.ini"))
        self.write_settings(self.settings)
        self.archives = Archives(self.scratch)

    def tearDown(self):
        for folder, dirs, files in os.walk(self.root):
            for d in dirs:
                p = os.path.join(folder, d)
                if not os.path.islink(p):
                    os.chmod(p, 0o755)
        shutil.rmtree(self.root, ignore_errors=True)

    def write_settings(self, text, archives="archivers.ini"):
        with open(os.path.join(self.prog, "zavo.ctl"), "w") as f:
            f.write("Archives %s\n%s" % (archives, text))

    def write_archivers(self, text):
        with open(os.path.join(self.prog, "archivers.ini"), "w") as f:
            f.write(text)

    def zavo(self, *params, cwd=None, env=None):
        """Runs the program; returns (exit code, output lines after the
        banner)."""
        full_env = dict(os.environ)
        full_env.pop("COMSPEC", None)
        if env:
            full_env.update(env)
        p = subprocess.run([os.path.join(self.prog, "zavo")] + list(params),
                           cwd=cwd or self.arc, env=full_env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=300)
        if p.returncode == 66 and "TSAN_OPTIONS" in full_env:
            # The sanitizer's report is on standard error: show it, as the
            # test that ran into it would otherwise print only the code.
            self.fail(p.stderr.decode("latin-1")[-6000:])
        lines = p.stdout.decode("latin-1").split("\n")
        self.assertEqual("", lines[-1], "output ends with a line end")
        lines = lines[:-1]
        self.assertEqual(BANNER, lines[:3])
        return p.returncode, lines[3:]

    def zavo_lines(self, *params, **kw):
        """Only zavo's own lines: the archivers are quiet by default, but
        filter out anything that is not one of ours to be safe."""
        code, lines = self.zavo(*params, **kw)
        ours = [l for l in lines if l.startswith(("processing folder [", "["))
                or " mistake on [" in l or l in ("exiting...",)]
        return code, ours

    def assertConverted(self, archive_7z, files):
        got = unpack_7z(archive_7z, os.path.join(
            self.scratch, "check%d" % id(files) + os.path.basename(archive_7z)))
        self.assertEqual(with_folders(files), got)

    def make_fake_archiver(self, name, body):
        path = os.path.join(self.prog, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + body + "\n")
        os.chmod(path, 0o755)
        return path


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def mode(path):
    return stat.S_IMODE(os.lstat(path).st_mode)
