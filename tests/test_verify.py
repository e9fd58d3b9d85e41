"""End-to-end: the Verify setting. The old archive is read in the process
and compared with what its extractor unpacked (the extraction check), the
new one with what was packed (the packing check); an extractor or packer
that leaves a file out, cuts it short, changes a byte or a mode, or a
member the target cannot hold, fails the archive and keeps the original.
What the target kind cannot keep is named, and fails only with Fidelity
exact."""

import io
import json
import os
import re
import resource
import shutil
import stat
import struct
import subprocess
import tarfile
import time
import unicodedata
import unittest
import zipfile

from fault_helpers import as_nobody, give_to_nobody
from zavo_e2e import BANNER, SOURCE, ZavoCase, read_bytes, run

# Packs like the default target, from a copy of the folder that it spoils
# first as its first argument says: "drop" leaves f.txt out, "byte"
# changes its fourth byte, "mode" makes x.sh not executable, "setid" takes
# away its set-user-ID bit, "none" packs faithfully.
SPOILING_PACKER = r'''#!/usr/bin/env python3
import os, shutil, subprocess, sys, tempfile
how, archive = sys.argv[1], os.path.abspath(sys.argv[2])
copy = os.path.join(tempfile.mkdtemp(), "copy")
shutil.copytree(".", copy, symlinks=True,
                ignore=lambda d, names: [n for n in names
                                         if os.path.join(d, n) == "./" + os.path.basename(archive)])
if how == "drop":
    os.remove(os.path.join(copy, "f.txt"))
elif how == "byte":
    with open(os.path.join(copy, "f.txt"), "r+b") as f:
        f.seek(3)
        f.write(b"X")
elif how == "mode":
    os.chmod(os.path.join(copy, "x.sh"), 0o644)
elif how == "setid":
    os.chmod(os.path.join(copy, "x.sh"), 0o755)
sys.exit(subprocess.run(["7zz", "a", "-t7z", "-bso0", "-bsp0", "-y", "-snl",
                         "-mf=off", "--", archive, "."], cwd=copy,
                        stdin=subprocess.DEVNULL).returncode)
'''

TREE = {"f.txt": b"0123456789" * 1000, "sub/g.txt": b"g\n", ".dot": b"d"}


class VerifyTest(ZavoCase):

    settings = "Verify yes\n"

    def setUp(self):
        super().setUp()
        self.packer = self.make_fake_archiver("spoil", "")
        with open(self.packer, "w") as f:
            f.write(SPOILING_PACKER)
        with open(os.path.join(SOURCE, "data", "posix", "archivers.ini")) as f:
            self.default_archivers = f.read()

    def use_packer(self, how):
        self.write_archivers(self.default_archivers.replace(
            "add=7zz a -t7z -bd -bso0 -bsp0 -y -snl -mf=off -- @ArcName @FileName",
            "add=%s %s @ArcName" % (self.packer, how), 1))

    def make_tar(self, name, extra=None):
        stage = os.path.join(self.scratch, name)
        os.makedirs(os.path.join(stage, "sub"))
        for rel, data in TREE.items():
            with open(os.path.join(stage, rel), "wb") as f:
                f.write(data)
        with open(os.path.join(stage, "x.sh"), "wb") as f:
            f.write(b"#!/bin/sh\n")
        os.chmod(os.path.join(stage, "x.sh"), 0o755)
        os.symlink("/nonexistent/abs", os.path.join(stage, "abs"))
        if extra:
            extra(stage)
        os.chmod(stage, 0o755)
        path = os.path.join(self.arc, name)
        run(["tar", "-cf", path, "."], stage)
        return read_bytes(path)

    def test_shipped_settings_verify(self):
        with open(os.path.join(SOURCE, "data", "posix", "zavo.ctl")) as f:
            self.assertRegex(f.read(), re.compile(r"^Verify yes$", re.M))

    def test_a_spoiling_packer_is_caught_and_the_original_kept(self):
        cases = {"drop": "[f.txt] is missing from the new archive",
                 "byte": "[f.txt] differs in its bytes",
                 "mode": "[x.sh] differs in its permission bits "
                         "(0755, 0644 in the new archive)",
                 # bsdtar drops the bit, zavo gives it back, 7z keeps it:
                 # a packer that loses it is caught.
                 "setid": "[x.sh] differs in its permission bits "
                          "(4755, 0755 in the new archive)"}
        for how, detail in cases.items():
            with self.subTest(how=how):
                data = self.make_tar(how + ".tar", lambda stage: os.chmod(
                    os.path.join(stage, "x.sh"), 0o4755) if how == "setid"
                    else None)
                self.use_packer(how)
                code, lines = self.zavo(how + ".tar")
                path = os.path.join(self.arc, how + ".tar")
                self.assertEqual(
                    (1, ["processing folder [%s]" % self.arc,
                         "verifying [%s]: %s" % (path, detail),
                         "verifying mistake on [%s]. next archive!" % path]),
                    (code, lines))
                self.assertEqual(data, read_bytes(path))
                self.assertEqual([], [n for n in os.listdir(self.arc)
                                       if n.endswith(".tmp")])
                self.assertFalse(os.path.exists(
                    os.path.join(self.arc, how + ".7z")))
                os.remove(path)

    def test_without_the_key_the_run_is_as_designed(self):
        self.make_tar("byte.tar")
        self.use_packer("byte")
        self.write_settings("")
        code, lines = self.zavo_lines("byte.tar")
        self.assertEqual((0, "[byte.tar] -> [byte.7z] done!"), (code, lines[-1]))

    def test_a_faithful_packer_passes(self):
        self.make_tar("fine.tar")
        self.use_packer("none")
        code, lines = self.zavo_lines("fine.tar")
        self.assertEqual((0, "[fine.tar] -> [fine.7z] done!"), (code, lines[-1]))

    def test_stop_on_error_applies(self):
        data = self.make_tar("a.tar")
        self.make_tar("b.tar")
        self.use_packer("drop")
        self.write_settings("Verify yes\nStopOnError yes\n")
        code, lines = self.zavo("*.tar")
        path = os.path.join(self.arc, "a.tar")
        self.assertEqual(
            (2, ["processing folder [%s]" % self.arc,
                 "verifying [%s]: [f.txt] is missing from the new archive" % path,
                 "verifying mistake on [%s]." % path, "exiting..."]),
            (code, lines))
        self.assertEqual(data, read_bytes(path))
        self.assertTrue(os.path.exists(os.path.join(self.arc, "b.tar")))

    def test_what_7z_cannot_hold_is_caught(self):
        # Nothing vouches for a FIFO (7zz stores it as an empty file and
        # exits 0); a name in a legacy code page comes back from the 7z
        # under another name.
        fifo = self.make_tar("fifo.tar",
                             lambda stage: os.mkfifo(os.path.join(stage, "pipe")))
        legacy = self.make_tar("legacy.tar", lambda stage: open(
            os.path.join(stage, os.fsdecode(b"caf\xe9.txt")), "wb").close())
        code, lines = self.zavo("*.tar")
        self.assertEqual(1, code, lines)
        fifo_path = os.path.join(self.arc, "fifo.tar")
        legacy_path = os.path.join(self.arc, "legacy.tar")
        self.assertEqual(
            ["processing folder [%s]" % self.arc,
             "verifying [%s]: [pipe] is a pipe, device or socket, which "
             "cannot be verified" % fifo_path,
             "verifying mistake on [%s]. next archive!" % fifo_path],
            lines[:3])
        # 7-Zip keeps the byte as a private-use character, which every
        # other reader gives as such: the name is not the one packed.
        self.assertRegex(lines[3], r"^verifying \[%s\]: \[caf.*\.txt\] is "
                         % re.escape(legacy_path))
        self.assertEqual("verifying mistake on [%s]. next archive!" % legacy_path,
                         lines[-1])
        self.assertEqual(fifo, read_bytes(fifo_path))
        self.assertEqual(legacy, read_bytes(legacy_path))



def attributes_in_7z(path):
    """{member: its "Attributes" line} as 7zz lists them."""
    out = subprocess.run(["7zz", "l", "-slt", path], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    found, name = {}, None
    for line in out.splitlines():
        if line.startswith("Path = "):
            name = line[7:]
        elif line.startswith("Attributes = ") and name:
            found[name] = line[13:]
    return found


def stage_tree(root, files):
    for rel, (data, mode) in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)


class CheckedConversionTest(ZavoCase):
    """The two checks with the default archivers, and what they keep."""

    settings = "Verify yes\n"

    def setUp(self):
        super().setUp()
        with open(os.path.join(SOURCE, "data", "posix", "archivers.ini")) as f:
            self.default_archivers = f.read()
        self.report = os.path.join(self.root, "report.jsonl")

    def records(self):
        with open(self.report) as f:
            lines = [json.loads(line) for line in f]
        return {os.path.basename(r["old"]): r for r in lines
                if r["type"] == "archive"}

    def tar_of(self, name, files, extra=None, options=()):
        stage = os.path.join(self.scratch, name + ".stage")
        os.makedirs(stage)
        stage_tree(stage, files)
        if extra:
            extra(stage)
        path = os.path.join(self.arc, name)
        run(["tar", "-cf", path] + list(options) + ["."], stage)
        return path

    def test_short_dropped_and_doubled_extractions_fail(self):
        # Extractors that exit 0 and still leave the work folder short,
        # archives with two members of one name, and arj, which nothing in
        # zavo reads, checked through its list template.
        short = self.make_fake_archiver(
            "short-x", 'bsdtar -x --no-same-owner -p -f "$1" && '
            'truncate -s 5 f.txt')
        # Keeps the folder's time: only the file is to be missing.
        dropping = self.make_fake_archiver(
            "drop-x", 'bsdtar -x --no-same-owner -p -f "$1" && '
            't=$(stat -c %Y sub) && rm sub/g.txt && touch -d "@$t" sub')
        arj_short = self.make_fake_archiver(
            "arj-short", 'arj x -v -y -i "$1" >&2 && truncate -s 5 f.txt')
        arj = "extract=arj x -v -y -i @ArcName </dev/null >&2"
        self.assertIn(arj, self.default_archivers)
        archivers = self.default_archivers.replace(
            arj,
            "extract=%s @ArcName\nlist=lsar -j @ArcName" % arj_short)
        archivers += ("\n[short]\nextension=short\nextract=%s @ArcName\n"
                      "\n[drop]\nextension=drop\nextract=%s @ArcName\n"
                      % (short, dropping))
        self.write_archivers(archivers)
        files = {"f.txt": (b"0123456789" * 1000, 0o644),
                 "sub/g.txt": (b"g\n", 0o644)}
        self.tar_of("a.short", files)
        self.tar_of("b.drop", files)
        doubled = self.tar_of("c.tar", files)
        stage = os.path.join(self.scratch, "c.tar.stage")
        with open(os.path.join(stage, "f.txt"), "wb") as f:
            f.write(b"the second one")
        run(["tar", "-rf", doubled, "./f.txt"], stage)
        with zipfile.ZipFile(os.path.join(self.arc, "d.zip"), "w") as z:
            z.writestr("same.txt", b"one")
            z.writestr("same.txt", b"one")
        stage = os.path.join(self.scratch, "e")
        stage_tree(stage, files)
        run(["arj", "a", "-y", "-r", os.path.join(self.arc, "e.arj"),
             "f.txt", "sub/g.txt"], stage, timeout=60)
        before = {n: read_bytes(os.path.join(self.arc, n))
                  for n in os.listdir(self.arc)}
        code, lines = self.zavo("--report", self.report, "*.*")
        expected = {
            "a.short": ["[f.txt] differs in its size (10000 bytes, 5 in the "
                        "work folder)"],
            "b.drop": ["[sub/g.txt] is missing from the work folder"],
            "c.tar": ["[f.txt] differs in its size (10000 bytes, 14 in the "
                      "work folder)",
                      "[f.txt] has two members of one name and one was lost"],
            "d.zip": ["[same.txt] has two members of one name and one was "
                      "lost"],
            "e.arj": ["[f.txt] differs in its size (10000 bytes, 5 in the "
                      "work folder)"],
        }
        want = ["processing folder [%s]" % self.arc]
        for name in sorted(expected):
            path = os.path.join(self.arc, name)
            want += ["verifying [%s]: %s" % (path, d) for d in expected[name]]
            want.append("verifying mistake on [%s]. next archive!" % path)
        self.assertEqual((1, want), (code, lines))
        self.assertEqual(before, {n: read_bytes(os.path.join(self.arc, n))
                                  for n in os.listdir(self.arc)
                                  if n != "report.jsonl"})
        records = self.records()
        self.assertEqual({"extraction": "list", "packing": None},
                         records["e.arj"]["checks"])
        self.assertEqual("verifying", records["a.short"]["step"])

    def test_what_the_target_cannot_keep_is_named_or_fails(self):
        # Owners (every tar records them), hard links and extended
        # attributes, a zip comment, a pax global header as git archive
        # writes one.
        def links(stage):
            os.link(os.path.join(stage, "a"), os.path.join(stage, "b"))
            os.setxattr(os.path.join(stage, "x"), "user.note", b"kept?")
        self.tar_of("links.tar", {"a": (b"data", 0o644), "x": (b"x", 0o644)},
                    links, ["--xattrs"])
        with zipfile.ZipFile(os.path.join(self.arc, "note.zip"), "w") as z:
            z.writestr("a.txt", b"a")
            z.comment = b"a comment"
        with tarfile.open(os.path.join(self.arc, "git.tar"), "w",
                          format=tarfile.PAX_FORMAT,
                          pax_headers={"comment": "0123abcd"}) as t:
            info = tarfile.TarInfo("f.txt")
            info.size, info.mtime, info.uname, info.gname = 3, 981173106, "", ""
            t.addfile(info, io.BytesIO(b"abc"))
        # cpio's newc format gives a file's bytes with its last name only.
        stage = os.path.join(self.scratch, "links.tar.stage")
        listing = subprocess.run(["find", ".", "-mindepth", "1"], cwd=stage,
                                 check=True, stdout=subprocess.PIPE).stdout
        with open(os.path.join(self.arc, "newc.cpio"), "wb") as out:
            subprocess.run(["cpio", "-o", "-H", "newc"], cwd=stage,
                           input=listing, stdout=out,
                           stderr=subprocess.DEVNULL, check=True)
        not_kept = {"git.tar": ["pax headers"], "note.zip": ["comments"],
                    "links.tar": ["extended attributes", "hard links",
                                  "owners"],
                    "newc.cpio": ["hard links"]}
        originals = {n: read_bytes(os.path.join(self.arc, n)) for n in not_kept}
        for name, data in originals.items():
            with open(os.path.join(self.scratch, name), "wb") as f:
                f.write(data)

        p = subprocess.run([os.path.join(self.prog, "zavo"), "--report",
                            self.report, "*.*"], cwd=self.arc,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(0, p.returncode, p.stderr)
        self.assertEqual(sorted("[%s] -> [%s.7z] done!" % (n, n.split(".")[0])
                                for n in not_kept),
                         sorted(p.stdout.decode().splitlines()[4:]))
        self.assertEqual(
            sorted("not kept by the new archive of [%s]: %s"
                   % (os.path.join(self.arc, n), ", ".join(w))
                   for n, w in not_kept.items()),
            sorted(p.stderr.decode().splitlines()))
        records = self.records()
        for name, what in not_kept.items():
            self.assertEqual(what, records[name]["not_kept"], name)
            self.assertEqual({"extraction": "libarchive",
                              "packing": "libarchive"},
                             records[name]["checks"])
            self.assertTrue(records[name]["verified"])

        for name, data in originals.items():
            os.remove(os.path.join(self.arc, name.split(".")[0] + ".7z"))
            with open(os.path.join(self.arc, name), "wb") as f:
                f.write(data)
        self.write_settings("Verify yes\nFidelity exact\n")
        code, lines = self.zavo("*.*")
        want = ["processing folder [%s]" % self.arc]
        for name in sorted(not_kept):
            path = os.path.join(self.arc, name)
            want += ["verifying [%s]: the new archive does not keep the old "
                     "one's %s" % (path, ", ".join(not_kept[name])),
                     "verifying mistake on [%s]. next archive!" % path]
        self.assertEqual((1, want), (code, lines))
        self.assertEqual(originals, {n: read_bytes(os.path.join(self.arc, n))
                                     for n in not_kept})

    def test_set_id_bits_programs_and_names_are_kept(self):
        # bsdtar never restores set-ID bits; zavo gives them back, as root
        # and as a user, and 7z keeps them. An ARM64 library (7-Zip's ARM64
        # filter is off) and names in decomposed form, as macOS writes
        # them, convert and verify.
        program = bytearray(read_bytes("/bin/ls"))
        struct.pack_into("<H", program, 18, 183)  # EM_AARCH64
        nfd = unicodedata.normalize("NFD", "caf\u00e9")
        files = {"tool": (b"#!/bin/sh\n", 0o4755),
                 "group-tool": (b"#!/bin/sh\n", 0o2755),
                 "libarm.so": (bytes(program), 0o755),
                 nfd + "/" + nfd + ".txt": (b"decomposed", 0o644)}
        self.tar_of("root.tar", files)
        stage = os.path.join(self.scratch, "zip.stage")
        stage_tree(stage, files)
        run(["zip", "-qry", os.path.join(self.arc, "names.zip"), "."], stage)
        users = os.path.join(self.arc, "users")
        os.makedirs(users)
        shutil.copy(os.path.join(self.arc, "root.tar"),
                    os.path.join(users, "user.tar"))
        give_to_nobody(users)
        os.chmod(self.root, 0o755)
        os.chmod(self.prog, 0o755)

        code, lines = self.zavo_lines("*.*")
        self.assertEqual((0, ["processing folder [%s]" % self.arc,
                              "[names.zip] -> [names.7z] done!",
                              "[root.tar] -> [root.7z] done!"]), (code, lines))
        p = subprocess.run(as_nobody() + [os.path.join(self.prog, "zavo"),
                                          "user.tar"], cwd=users,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(0, p.returncode, p.stdout + p.stderr)
        for new in ("root.7z", "users/user.7z"):
            got = attributes_in_7z(os.path.join(self.arc, new))
            self.assertEqual("A -rwsr-xr-x", got["tool"], new)
            self.assertEqual("A -rwxr-sr-x", got["group-tool"], new)
        method = subprocess.run(["7zz", "l", "-slt", os.path.join(
            self.arc, "names.7z")], stdout=subprocess.PIPE, text=True).stdout
        self.assertNotIn("ARM64", method)

    def test_a_target_that_keeps_links_and_set_id_bits(self):
        # A tar target holds hard links and set-ID bits: nothing is named
        # as not kept, and the new tar has both.
        self.write_archivers(
            "[ntar]\nextension=ntar\n"
            "extract=bsdtar -x --no-same-owner -p -f @ArcName </dev/null\n"
            "add=bsdtar -c -f @ArcName @FileName </dev/null\n"
            "test=bsdtar -t -f @ArcName >/dev/null </dev/null\n\n"
            "[tar]\nextension=tar\n"
            "extract=bsdtar -x --no-same-owner -p -f @ArcName </dev/null\n")
        self.tar_of("links.tar", {"a": (b"data", 0o4755)}, lambda stage:
                    os.link(os.path.join(stage, "a"), os.path.join(stage, "b")))
        code, lines = self.zavo_lines("--report", self.report, "links.tar")
        self.assertEqual((0, "[links.tar] -> [links.ntar] done!"),
                         (code, lines[-1]))
        self.assertEqual([], self.records()["links.tar"]["not_kept"])
        listing = subprocess.run(
            ["bsdtar", "-tvf", os.path.join(self.arc, "links.ntar")],
            stdout=subprocess.PIPE, text=True).stdout
        self.assertRegex(listing, r"(?m)^-rwsr-xr-x .* \./[ab]$")
        self.assertRegex(listing, r"(?m)^hrwsr-xr-x .* \./[ab] link to ")

    def test_a_zip_time_before_1970_is_read_as_stored(self):
        # The extended timestamp is a signed number; libarchive reads it
        # unsigned, as 2105, and so does the extractor. The work folder gets
        # the stored time back, which the 7z keeps.
        stage = os.path.join(self.scratch, "old")
        stage_tree(stage, {"old.txt": (b"1969", 0o644)})
        os.utime(os.path.join(stage, "old.txt"), (-18000000, -18000000))
        run(["zip", "-q", os.path.join(self.arc, "old.zip"), "old.txt"], stage)
        code, lines = self.zavo_lines("old.zip")
        self.assertEqual((0, "[old.zip] -> [old.7z] done!"), (code, lines[-1]))
        listing = subprocess.run(
            ["7zz", "l", os.path.join(self.arc, "old.7z")],
            stdout=subprocess.PIPE, text=True, env=dict(os.environ, TZ="UTC"))
        self.assertIn("1969-06-06 16:00:00 ....A", listing.stdout)

    def test_a_sparse_file_is_verified_without_writing_it(self):
        # 4 GiB of holes in a tar of a few hundred bytes. The new archive
        # holds them as 4 GiB of zeros, as a 7z would (a 7z of them takes a
        # minute to pack, a tar.zst seconds), which unpacking would write
        # out: what zavo and its archivers write stays far below that.
        self.write_archivers(
            "[tzst]\nextension=tzst\n"
            "extract=bsdtar -x --no-same-owner -p -f @ArcName </dev/null\n"
            "add=bsdtar -c --zstd --no-read-sparse -f @ArcName @FileName "
            "</dev/null\n"
            "test=bsdtar -t -f @ArcName >/dev/null </dev/null\n\n"
            "[tar.gz]\nextension=tar.gz\n"
            "extract=bsdtar -x --no-same-owner -p -f @ArcName </dev/null\n")
        stage = os.path.join(self.scratch, "sparse")
        stage_tree(stage, {"small.txt": (b"small", 0o644)})
        with open(os.path.join(stage, "big"), "wb") as f:
            f.truncate(4 << 30)
            f.seek(1 << 30)
            f.write(b"data in the middle")
        path = os.path.join(self.arc, "bomb.tar.gz")
        run(["bsdtar", "-czf", path, "."], stage)
        shutil.rmtree(stage)
        self.assertLess(os.path.getsize(path), 4096)
        started = time.monotonic()
        with subprocess.Popen([os.path.join(self.prog, "zavo"), "--report",
                               self.report, "bomb.tar.gz"], cwd=self.arc,
                              stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT) as p:
            out = p.stdout.read().decode()
            _, status, usage = os.wait4(p.pid, 0)
            p.returncode = os.waitstatus_to_exitcode(status)
        self.assertEqual(0, p.returncode, out)
        self.assertIn("[bomb.tar.gz] -> [bomb.tzst] done!", out)
        record = self.records()["bomb.tar.gz"]
        self.assertEqual({"extraction": "libarchive", "packing": "libarchive"},
                         record["checks"])
        # Blocks of 512 bytes written by zavo and its archivers, the new
        # archive included.
        written = usage.ru_oublock * 512
        self.assertLess(written, 8 << 20)
        self.assertLess(time.monotonic() - started, 60)
        if os.environ.get("ZAVO_TEST_VERBOSE"):
            print("sparse: %d bytes written, %.1f s" % (
                written, time.monotonic() - started))

    def test_intended_changes_are_allowed_and_counted(self):
        # A deleted, a scanned away and an added file, and a nested archive
        # converted: none of them is a loss, each is counted.
        scanner = self.make_fake_archiver("scanner", 'rm "$1/virus.txt"')
        banner = os.path.join(self.scratch, "banner.txt")
        with open(banner, "wb") as f:
            f.write(b"added")
        self.write_settings("Verify yes\nNested yes\nDeleteFile *.bak\n"
                            "AddFile %s\nScan %s @Folder\n" % (banner, scanner))
        inner = os.path.join(self.scratch, "inner.zip")
        with zipfile.ZipFile(inner, "w") as z:
            z.writestr("in.txt", b"inside")
        self.tar_of("outer.tar", {"keep.txt": (b"k", 0o644),
                                  "old.bak": (b"b", 0o644),
                                  "virus.txt": (b"v", 0o644),
                                  "inner.zip": (read_bytes(inner), 0o644)})
        code, lines = self.zavo_lines("--report", self.report, "outer.tar")
        self.assertEqual((0, "[outer.tar] -> [outer.7z] done!"),
                         (code, lines[-1]))
        record = self.records()["outer.tar"]
        self.assertEqual({"deleted": 1, "added": 1, "nested": 1, "scan": 1},
                         record["changes"])
        self.assertTrue(record["verified"])


class UnreadableTargetTest(ZavoCase):
    """A target kind that no reader in zavo knows: its new archives are
    unpacked with its own extract template into a held private folder and
    compared from there."""

    settings = "Verify yes\n"

    def test_the_new_archive_is_unpacked_and_compared(self):
        # The "junk" kind: a tar behind eight bytes that hide its kind.
        pack = self.make_fake_archiver(
            "junk-pack", '{ printf ZAVOJUNK; bsdtar -c -f - .; } > "$1.part" '
            '&& mv "$1.part" "$1"')
        unpack = self.make_fake_archiver(
            "junk-unpack", 'tail -c +9 "$1" | bsdtar -x -p -f - && '
            '{ test ! -e "%s" || rm f.txt; }' % os.path.join(self.prog, "drop"))
        self.write_archivers(
            "[junk]\nextension=junk\nextract=%s @ArcName\n"
            "add=%s @ArcName\n\n"
            "[tar]\nextension=tar\n"
            "extract=bsdtar -x --no-same-owner -p -f @ArcName </dev/null\n"
            % (unpack, pack))
        stage = os.path.join(self.scratch, "t")
        stage_tree(stage, {"f.txt": (b"f", 0o644), "sub/g": (b"g", 0o600)})
        run(["tar", "-cf", os.path.join(self.arc, "a.tar"), "."], stage)
        report = os.path.join(self.root, "report.jsonl")
        code, lines = self.zavo_lines("--report", report, "a.tar")
        self.assertEqual((0, "[a.tar] -> [a.junk] done!"), (code, lines[-1]))
        with open(report) as f:
            record = json.loads(f.readline())
        self.assertEqual({"extraction": "libarchive", "packing": "unpacked"},
                         record["checks"])

        os.rename(os.path.join(self.arc, "a.junk"),
                  os.path.join(self.scratch, "a.junk"))
        run(["tar", "-cf", os.path.join(self.arc, "a.tar"), "."], stage)
        open(os.path.join(self.prog, "drop"), "w").close()
        code, lines = self.zavo("a.tar")
        path = os.path.join(self.arc, "a.tar")
        self.assertEqual((1, ["processing folder [%s]" % self.arc,
                              "verifying [%s]: [f.txt] is missing from the "
                              "new archive" % path,
                              "verifying mistake on [%s]. next archive!" % path]),
                         (code, lines))
        self.assertEqual(["a.tar"], os.listdir(self.arc))


if __name__ == "__main__":
    unittest.main()
