"""End-to-end, with the default archivers: what a conversion keeps of each
kind. Every kind's archive is made by its own packer from one tree, all are
converted in one run, and each new 7z is unpacked with the target's own
extractor (bsdtar) and measured against the tree. The table below is the
one the man page shows; a cell that stops being true fails the test either way.
Also the extractor's own rules that keep members inside the work folder."""

import os
import shutil
import stat
import subprocess
import time
import unittest

from zavo_e2e import ZavoCase, read_bytes, run, write_lzh

# 2001-02-03 04:05:06 UTC: an even second, which DOS times can hold.
STAMP = 981173106

LINKS = {"abs": "/nonexistent/zavo-abs", "climb": "../outside/x",
         "near": "f.txt", "dangling": "nothere"}

ASPECTS = ("bytes", "empty folders", "dot-names", "absolute links",
           "climbing links", "near links", "dangling links", "modes",
           "times", "UTF-8 names")

ALL = set(ASPECTS)
# What survives a conversion to 7z, per kind: (kept, not measured). Not
# measured are the aspects that the kind's packer here cannot put in (arj
# hangs on dot-names, the lzh writer takes Latin-1 names only).
TABLE = {
    "zip": (ALL, set()),
    "tar": (ALL, set()),
    "tar.gz": (ALL, set()),
    "tgz": (ALL, set()),
    "tar.bz2": (ALL, set()),
    "tar.xz": (ALL, set()),
    "tar.zst": (ALL, set()),
    "cpio": (ALL, set()),
    "xar": (ALL, set()),
    "cab": ({"bytes", "dot-names", "times", "UTF-8 names"}, set()),
    "lzh": ({"bytes", "dot-names", "times"}, {"UTF-8 names"}),
    "arj": ({"bytes", "modes", "times", "UTF-8 names"},
            {"dot-names", "empty folders"}),
}


def make_tree(stage):
    def put(rel, data, m=0o640):
        path = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, m)
    put("f.txt", bytes(range(256)) * 40)
    put("x.sh", b"#!/bin/sh\n", 0o755)
    put("ro.txt", b"read only\n", 0o444)
    put("sub/deep.txt", b"deep\n" * 100)
    put(".dot", b"dot\n")
    put(".dotdir/inner", b"inner\n")
    put("gr\u00fc\u00dfe \u20ac.txt", b"utf-8\n")
    os.makedirs(os.path.join(stage, "emptydir"))
    for name, target in LINKS.items():
        os.symlink(target, os.path.join(stage, name))
    for folder, dirs, files in os.walk(stage, topdown=False):
        for n in dirs + files:
            os.utime(os.path.join(folder, n), (STAMP, STAMP),
                     follow_symlinks=False)


def snapshot(root):
    """{relative name: (kind, content, mode, whole seconds of mtime)}."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for n in dirs + files:
            path = os.path.join(folder, n)
            st = os.lstat(path)
            if stat.S_ISLNK(st.st_mode):
                what = ("link", os.readlink(path))
            elif stat.S_ISDIR(st.st_mode):
                what = ("dir", None)
            else:
                with open(path, "rb") as f:
                    what = ("file", f.read())
            found[os.path.relpath(path, root)] = (
                what, stat.S_IMODE(st.st_mode), int(st.st_mtime))
    return found


def measure(want, got):
    """The aspects of `want` that `got` keeps."""
    def same(*names):
        return all(n in got and got[n][0] == want[n][0] for n in names)
    kept = set()
    if same("f.txt", "x.sh", "ro.txt", "sub/deep.txt"):
        kept.add("bytes")
    if same("emptydir"):
        kept.add("empty folders")
    if same(".dot", ".dotdir/inner"):
        kept.add("dot-names")
    for name, aspect in (("abs", "absolute links"), ("climb", "climbing links"),
                         ("near", "near links"), ("dangling", "dangling links")):
        if same(name):
            kept.add(aspect)
    if all(n in got and got[n][1] == want[n][1]
           for n in ("f.txt", "x.sh", "ro.txt")):
        kept.add("modes")
    if all(n in got and got[n][2] == STAMP for n in ("f.txt", "sub/deep.txt")):
        kept.add("times")
    if same("gr\u00fc\u00dfe \u20ac.txt"):
        kept.add("UTF-8 names")
    return kept


def bsdtar_tree(archive, into):
    os.makedirs(into)
    run(["bsdtar", "-x", "--no-same-owner", "-p", "-f", archive], into)
    return snapshot(into)


class FidelityTest(ZavoCase):

    # The shipped settings' Verify: every conversion below passes it.
    settings = "KeepTime yes\nVerify yes\n"

    def make(self, kind, stage, path):
        names = sorted(os.listdir(stage))
        tar = {"tar": [], "tar.gz": ["-z"], "tgz": ["-z"], "tar.bz2": ["-j"],
               "tar.xz": ["-J"], "tar.zst": ["--zstd"]}
        if kind == "zip":
            run(["zip", "-qry", path, "."], stage)
        elif kind in tar:
            run(["tar", "-c"] + tar[kind] + ["-f", path, "."], stage)
        elif kind == "cpio":
            listing = subprocess.run(["find", ".", "-mindepth", "1"], cwd=stage,
                                     check=True, stdout=subprocess.PIPE).stdout
            with open(path, "wb") as out:
                subprocess.run(["cpio", "-o", "-H", "newc"], cwd=stage,
                               input=listing, stdout=out,
                               stderr=subprocess.DEVNULL, check=True)
        elif kind == "xar":
            run(["bsdtar", "--format", "xar", "-cf", path, "."], stage)
        elif kind == "cab":
            run(["gcab", "-c", path, "f.txt", "x.sh", "ro.txt", ".dot",
                 "sub/deep.txt", ".dotdir/inner", "gr\u00fc\u00dfe \u20ac.txt"],
                stage)
        elif kind == "lzh":
            members = []
            for rel in ("f.txt", "x.sh", "ro.txt", "sub/deep.txt", ".dot",
                        ".dotdir/inner"):
                with open(os.path.join(stage, rel), "rb") as f:
                    members.append((rel, f.read()))
            write_lzh(path, members)
        elif kind == "arj":
            # arj hangs on names that begin with a dot and stores no links.
            files = [n for n in names if not n.startswith(".")
                     and not os.path.islink(os.path.join(stage, n))
                     and n != "emptydir"]
            run(["arj", "a", "-y", "-r", path] + files, stage, timeout=60)
        else:
            raise ValueError(kind)

    def test_what_each_kind_keeps(self):
        stage = os.path.join(self.scratch, "tree")
        os.makedirs(stage)
        make_tree(stage)
        want = snapshot(stage)
        for kind in TABLE:
            self.make(kind, stage, os.path.join(
                self.arc, "k-%s.%s" % (kind.replace(".", "_"), kind)))
        code, lines = self.zavo_lines("*.*")
        self.assertEqual(0, code, lines)
        expected = ["processing folder [%s]" % self.arc] + sorted(
            "[k-%s.%s] -> [k-%s.7z] done!" % (k.replace(".", "_"), k,
                                              k.replace(".", "_"))
            for k in TABLE)
        self.assertEqual(expected, lines)
        # The lzh writer here stamps its members 2000-01-01 12:00 local time.
        lzh_time = int(time.mktime((2000, 1, 1, 12, 0, 0, 0, 0, -1)))
        for kind, (kept, unmeasured) in TABLE.items():
            name = "k-%s.7z" % kind.replace(".", "_")
            got = bsdtar_tree(os.path.join(self.arc, name),
                              os.path.join(self.scratch, "out-" + kind))
            if kind == "lzh":
                got = {k: (v[0], v[1], STAMP if v[2] == lzh_time else v[2])
                       for k, v in got.items()}
            measured = measure(want, got) - unmeasured
            self.assertEqual(sorted(kept), sorted(measured), kind)


    def test_legacy_byte_names_do_not_survive(self):
        stage = os.path.join(self.scratch, "legacy")
        os.makedirs(stage)
        with open(os.path.join(stage, os.fsdecode(b"caf\xe9.txt")), "wb") as f:
            f.write(b"latin-1 name")
        run(["tar", "-cf", os.path.join(self.arc, "legacy.tar"), "."], stage)
        # Verify refuses this conversion (test_verify.py); without it:
        self.write_settings("KeepTime yes\n")
        code, lines = self.zavo_lines("legacy.tar")
        self.assertEqual((0, "[legacy.tar] -> [legacy.7z] done!"),
                         (code, lines[-1]))
        got = bsdtar_tree(os.path.join(self.arc, "legacy.7z"),
                          os.path.join(self.scratch, "legacy-out"))
        self.assertEqual(1, len(got))
        self.assertNotIn(os.fsdecode(b"caf\xe9.txt"), got)


class ExtractorRulesTest(ZavoCase):
    """bsdtar's own rules keep every member inside the work folder."""

    settings = "KeepTime yes\nVerify yes\n"

    def setUp(self):
        super().setUp()
        self.outside = os.path.join(self.root, "outside")
        os.makedirs(self.outside)

    def test_climbing_absolute_and_through_a_link(self):
        import zipfile
        climb = os.path.join(self.arc, "climb.zip")
        with zipfile.ZipFile(climb, "w") as z:
            z.writestr("fine.txt", b"fine")
            z.writestr("../../outside/up.txt", b"up")
        absolute = os.path.join(self.arc, "abs.tar")
        stage = os.path.join(self.scratch, "abs")
        os.makedirs(stage)
        planted = os.path.join(self.outside, "planted.txt")
        with open(os.path.join(stage, "fine.txt"), "wb") as f:
            f.write(b"fine")
        with open(planted, "wb") as f:
            f.write(b"planted")
        run(["tar", "-cPf", absolute, "fine.txt", planted], stage)
        os.remove(planted)
        # A link to the outside, then a member written through it.
        through = os.path.join(self.arc, "through.tar")
        os.symlink(self.outside, os.path.join(stage, "out"))
        run(["tar", "-cf", through, "out"], stage)
        os.remove(os.path.join(stage, "out"))
        os.makedirs(os.path.join(stage, "out"))
        with open(os.path.join(stage, "out", "evil.txt"), "wb") as f:
            f.write(b"evil")
        run(["tar", "-rf", through, "out/evil.txt"], stage)
        originals = {n: read_bytes(os.path.join(self.arc, n))
                     for n in ("climb.zip", "through.tar")}

        code, lines = self.zavo_lines("*.*")
        self.assertEqual(1, code, lines)
        self.assertEqual(
            ["processing folder [%s]" % self.arc,
             "[abs.tar] -> [abs.7z] done!",
             "extraction mistake on [%s/climb.zip]. next archive!" % self.arc,
             "extraction mistake on [%s/through.tar]. next archive!" % self.arc],
            lines)
        self.assertEqual([], os.listdir(self.outside))
        for name, data in originals.items():
            with open(os.path.join(self.arc, name), "rb") as f:
                self.assertEqual(data, f.read(), name)
        # The absolute member lost its leading "/" and stayed inside.
        got = bsdtar_tree(os.path.join(self.arc, "abs.7z"),
                          os.path.join(self.scratch, "abs-out"))
        self.assertEqual(("file", b"planted"),
                         got[os.path.relpath(planted, "/")][0])
        self.assertEqual(("file", b"fine"), got["fine.txt"][0])


if __name__ == "__main__":
    unittest.main()
