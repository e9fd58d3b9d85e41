"""End-to-end, with the shipped archivers file: the kinds of old collections.
Each kind's archive of one tree is made by its real packer where Debian has
one (arc, jlha, lzip, xz, compress) and otherwise by the stored writers of
kind_makers; all are converted in one run with Verify, and each new 7z is
unpacked with bsdtar and measured against the tree. The table is the man page's
kinds table: a cell that stops being true fails the test either way.
Then recognition by bytes: a tree of misnamed archives and of data files
holding archive bytes."""

import os
import shutil
import stat
import subprocess
import unittest

import kind_makers
from zavo_e2e import ZavoCase, run

# 2001-02-03 04:05:06 UTC: an even second, which DOS times can hold.
STAMP = 981173106

FILES = {"a.txt": (b"plain text\n" * 20, 0o640),
         "x.sh": (b"#!/bin/sh\necho run\n", 0o755),
         "Mixed.Txt": (bytes(range(256)) * 8, 0o644),
         "sub/deep.txt": (b"deep\n" * 100, 0o644),
         "sub/inner/more.bin": (bytes(range(255, -1, -1)) * 3, 0o600)}
TOP = ["a.txt", "x.sh", "Mixed.Txt"]

ASPECTS = {"bytes", "letter case", "sub-folders", "empty folders", "modes",
           "times", "links"}


def tar_then(command):
    """A maker that tars the stage and compresses the tar with `command`."""
    def make(stage, path):
        tar = subprocess.run(["tar", "-cf", "-", "."], cwd=stage, check=True,
                             stdout=subprocess.PIPE).stdout
        with open(path, "wb") as out:
            subprocess.run(command, input=tar, stdout=out, check=True)
    return make


def arc_maker(stage, path):
    # arc keeps no folders and asks nothing when adding.
    run(["arc", "a", path] + TOP, stage)


def writer(write, with_folders):
    def make(stage, path):
        members = []
        for folder, dirs, files in os.walk(stage):
            for n in sorted(dirs) + sorted(files):
                p = os.path.join(folder, n)
                rel = os.path.relpath(p, stage)
                if os.path.islink(p):
                    continue
                if os.path.isdir(p):
                    if with_folders:
                        members.append((rel, None, STAMP))
                    continue
                with open(p, "rb") as f:
                    members.append((rel, f.read(), STAMP))
        write(path, members)
    return make


def rar_maker(stage, path):
    # A link is stored as a file holding its target, with the link's mode.
    modes = {rel: 0o100000 | m for rel, (_, m) in FILES.items()}
    modes["lnk"] = 0o120777

    def write(p, members):
        kind_makers.write_rar4(p, members + [("lnk", b"a.txt", STAMP)], modes)
    writer(write, True)(stage, path)


def lha_maker(stage, path):
    # jlha (jlha-utils), level 2 headers; it stores no links.
    run(["jlha", "c2q", path] + sorted(FILES) + ["emptydir"], stage)


ALL_BUT = lambda *lost: ASPECTS - set(lost)  # noqa: E731
# kind (also the extension): (maker, kept, not measured). Not measured: what
# the kind can hold but this maker does not put in.
KINDS = {
    "arc": (arc_maker, {"bytes", "letter case", "times"}, set()),
    "pak": (arc_maker, {"bytes", "letter case", "times"}, set()),
    "zoo": (writer(kind_makers.write_zoo, False),
            {"bytes", "letter case", "sub-folders", "times"}, {"modes"}),
    "ace": (writer(kind_makers.write_ace, False),
            {"bytes", "letter case", "sub-folders"}, {"modes", "empty folders"}),
    "lzx": (writer(kind_makers.write_lzx, False),
            {"bytes", "letter case", "sub-folders", "times"}, {"modes"}),
    "sit": (writer(kind_makers.write_sit, True),
            ALL_BUT("modes", "links"), set()),
    "lha": (lha_maker, ALL_BUT("modes", "links"), set()),
    "rar": (rar_maker, ASPECTS, set()),
    "tar.lz": (tar_then(["lzip", "-c"]), ASPECTS, set()),
    "tlz": (tar_then(["lzip", "-c"]), ASPECTS, set()),
    "tar.lzma": (tar_then(["xz", "--format=lzma", "-c"]), ASPECTS, set()),
    "tar.Z": (tar_then(["compress", "-c"]), ASPECTS, set()),
    "taz": (tar_then(["compress", "-c"]), ASPECTS, set()),
}


def make_tree(stage):
    for rel, (data, m) in FILES.items():
        path = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, m)
    os.makedirs(os.path.join(stage, "emptydir"))
    os.symlink("a.txt", os.path.join(stage, "lnk"))
    for folder, dirs, files in os.walk(stage, topdown=False):
        for n in dirs + files:
            os.utime(os.path.join(folder, n), (STAMP, STAMP),
                     follow_symlinks=False)


def measure(got):
    """The aspects of the tree that `got` (name: lstat, content) keeps."""
    def has(rel):
        return (rel in got and stat.S_ISREG(got[rel][0].st_mode)
                and got[rel][1] == FILES[rel][0])
    kept = set()
    if all(has(rel) for rel in TOP):
        kept |= {"bytes", "letter case"}
    elif has("a.txt") and has("x.sh"):
        kept.add("bytes")
    if has("sub/deep.txt") and has("sub/inner/more.bin"):
        kept.add("sub-folders")
    if "emptydir" in got and stat.S_ISDIR(got["emptydir"][0].st_mode):
        kept.add("empty folders")
    if all(has(r) and stat.S_IMODE(got[r][0].st_mode) == FILES[r][1]
           for r in ("a.txt", "x.sh", "sub/inner/more.bin")):
        kept.add("modes")
    if all(has(r) and int(got[r][0].st_mtime) == STAMP for r in TOP):
        kept.add("times")
    if "lnk" in got and got["lnk"][1] == "a.txt":
        kept.add("links")
    return kept


def unpack(archive, into):
    os.makedirs(into)
    run(["bsdtar", "-x", "--no-same-owner", "-p", "-f", archive], into)
    got = {}
    for folder, dirs, files in os.walk(into):
        for n in dirs + files:
            path = os.path.join(folder, n)
            st = os.lstat(path)
            if stat.S_ISLNK(st.st_mode):
                content = os.readlink(path)
            elif stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    content = f.read()
            else:
                content = None
            got[os.path.relpath(path, into)] = (st, content)
    return got


class KindsTest(ZavoCase):

    settings = "KeepTime yes\nVerify yes\n"

    def test_every_kind_converts_what_it_holds(self):
        stage = os.path.join(self.scratch, "tree")
        make_tree(stage)
        for kind, (maker, _, _) in KINDS.items():
            name = "k-%s.%s" % (kind.replace(".", "_"), kind)
            maker(stage, os.path.join(self.arc, name))
        code, lines = self.zavo_lines("*.*")
        self.assertEqual(0, code, lines)
        self.assertEqual(
            ["processing folder [%s]" % self.arc] + sorted(
                "[k-%s.%s] -> [k-%s.7z] done!" % (k.replace(".", "_"), k,
                                                  k.replace(".", "_"))
                for k in KINDS), lines)
        for kind, (_, kept, unmeasured) in KINDS.items():
            got = unpack(os.path.join(self.arc, "k-%s.7z" %
                                      kind.replace(".", "_")),
                         os.path.join(self.scratch, "out-" + kind))
            self.assertEqual(sorted(kept), sorted(measure(got) - unmeasured),
                             kind)

    def test_damaged_archives_fail_and_stay(self):
        """Every new kind's extractor fails on a member whose bytes changed
        and on an archive cut short, so the original stays."""
        stage = os.path.join(self.scratch, "tree")
        make_tree(stage)
        originals = {}
        for kind, (maker, _, _) in KINDS.items():
            if kind.startswith("ta") and kind != "tar.lz":
                continue  # no checksum of their own, or the same as tar.lz
            whole = os.path.join(self.scratch, "whole." + kind)
            maker(stage, whole)
            with open(whole, "rb") as f:
                data = f.read()
            at = data.find(b"deep\ndeep\n") if kind != "tar.lz" else -1
            at = at if at >= 0 else len(data) // 2
            flipped = bytearray(data)
            flipped[at + 3] ^= 0x20
            for how, damaged in (("flip", bytes(flipped)),
                                 ("cut", data[:at + 5])):
                name = "%s-%s.%s" % (how, kind.replace(".", "_"), kind)
                with open(os.path.join(self.arc, name), "wb") as f:
                    f.write(damaged)
                originals[name] = damaged
        code, lines = self.zavo_lines("*.*")
        self.assertEqual(1, code, lines)
        self.assertEqual(
            ["processing folder [%s]" % self.arc] + sorted(
                "extraction mistake on [%s/%s]. next archive!" % (self.arc, n)
                for n in originals), lines)
        for name, data in originals.items():
            with open(os.path.join(self.arc, name), "rb") as f:
                self.assertEqual(data, f.read(), name)


class HostileNamesTest(ZavoCase):
    """Members named to climb out or to start at the root, and a link to
    the outside followed by a member inside it, in every kind whose writer
    can name them: nothing lands outside the work folder, and an archive
    either converts with the names made harmless or fails and stays."""

    settings = "KeepTime yes\nVerify yes\n"

    def test_nothing_lands_outside(self):
        outside = os.path.join(self.root, "outside")
        os.makedirs(outside)
        absolute = "/zavo-hostile-%d.txt" % os.getpid()
        members = [("fine.txt", b"fine", STAMP),
                   ("../../outside/up.txt", b"up", STAMP),
                   (absolute, b"abs", STAMP)]
        kinds = ("arc", "zoo", "lzx", "sit")
        for kind in kinds + ("ace",):
            write = getattr(kind_makers, "write_" + kind)
            write(os.path.join(self.arc, "h-%s.%s" % (kind, kind)), members)
        # rar: a link to the outside, then a member written through it.
        kind_makers.write_rar4(
            os.path.join(self.arc, "h-rar.rar"),
            members + [("out", outside.encode(), STAMP),
                       ("out/evil.txt", b"evil", STAMP)],
            {"out": 0o120777})
        code, lines = self.zavo_lines("*.*")
        self.assertEqual(1, code, lines)
        self.assertEqual(
            ["processing folder [%s]" % self.arc] + sorted(
                ["[h-%s.%s] -> [h-%s.7z] done!" % (k, k, k) for k in kinds] +
                # unace refuses a name with "..", unar a link to write through.
                ["extraction mistake on [%s/h-%s.%s]. next archive!"
                 % (self.arc, k, k) for k in ("ace", "rar")],
                key=lambda line: line.split("h-")[1]),
            lines)
        self.assertEqual([], os.listdir(outside))
        self.assertFalse(os.path.lexists(absolute))
        # Inside, the names were made harmless, not dropped.
        for kind in kinds:
            names = subprocess.run(
                ["bsdtar", "-tf", os.path.join(self.arc, "h-%s.7z" % kind)],
                check=True, stdout=subprocess.PIPE).stdout.decode().split("\n")
            files = [n for n in names if n and not n.endswith("/")]
            self.assertEqual(3, len(files), (kind, names))
            for name in files:
                self.assertFalse(name.startswith("/"), (kind, name))
                self.assertNotIn("..", name.split("/"), (kind, name))


class MisnamedTest(ZavoCase):
    """Archives under the wrong name go to the kind of their bytes; data
    files holding archive bytes are left alone unless AnyExtension asks."""

    settings = "KeepTime yes\nVerify yes\nAnyExtension no\n"

    def setUp(self):
        super().setUp()
        stage = os.path.join(self.scratch, "m")
        os.makedirs(stage)
        with open(os.path.join(stage, "inside.txt"), "wb") as f:
            f.write(b"inside\n" * 10)
        made = {}
        for kind in ("zip", "arj", "7z"):
            made[kind] = self.archives.make(
                kind, os.path.join(self.scratch, "made." + kind),
                {"inside.txt": b"inside\n" * 10})
        made["rar"] = os.path.join(self.scratch, "made.rar")
        kind_makers.write_rar4(made["rar"],
                               [("inside.txt", b"inside\n" * 10, STAMP)])
        made["zoo"] = os.path.join(self.scratch, "made.zoo")
        kind_makers.write_zoo(made["zoo"],
                              [("inside.txt", b"inside\n" * 10, STAMP)])
        # name in the tree: the archive it holds
        self.tree = {"zipped.arj": "zip", "arjed.RAR": "arj",
                     "rarred.zip": "rar", "zooed.lzh": "zoo",
                     "sevened.zip": "7z", "GAME.DAT": "arj",
                     "report.docx": "zip", "cover.cbr": "rar",
                     "LEVELS": "zoo", "plain.zip": "zip"}
        for name, kind in self.tree.items():
            shutil.copy(made[kind], os.path.join(self.arc, name))

    def dry_run(self):
        code, lines = self.zavo("--dry-run", "*.*")
        self.assertEqual(0, code, lines)
        return sorted(line.split(" -> ")[0] for line in lines
                      if line.startswith("would "))

    def test_bytes_decide_among_archive_names_only(self):
        would = ["would convert [%s/%s] (%s)" % (self.arc, n, k)
                 for n, k in (("arjed.RAR", "arj"), ("plain.zip", "zip"),
                              ("rarred.zip", "rar"), ("zipped.arj", "zip"),
                              ("zooed.lzh", "zoo"))]
        self.assertEqual(would, self.dry_run())
        # Asked for, bytes claim data files too, but zip's and rar's never.
        self.write_settings("KeepTime yes\nVerify yes\nAnyExtension yes\n")
        self.assertEqual(sorted(would + [
            "would convert [%s/GAME.DAT] (arj)" % self.arc,
            "would convert [%s/LEVELS] (zoo)" % self.arc]), self.dry_run())

        # The real run converts what the dry run named, by the bytes' kind.
        self.write_settings(self.settings)
        code, lines = self.zavo_lines("*.*")
        self.assertEqual(0, code, lines)
        self.assertEqual(
            sorted(["processing folder [%s]" % self.arc] + [
                "[%s] -> [%s.7z] done!" % (n, n.rsplit(".", 1)[0])
                for n in ("arjed.RAR", "plain.zip", "rarred.zip",
                          "zipped.arj", "zooed.lzh")]), sorted(lines))
        for name in ("arjed", "plain", "rarred", "zipped", "zooed"):
            self.assertConverted(os.path.join(self.arc, name + ".7z"),
                                 {"inside.txt": b"inside\n" * 10})
        self.assertEqual(
            sorted(["GAME.DAT", "LEVELS", "cover.cbr", "report.docx",
                    "sevened.zip"] + [n + ".7z" for n in (
                        "arjed", "plain", "rarred", "zipped", "zooed")]),
            sorted(os.listdir(self.arc)))


# How each set is read whole: the program, the volume it is given (index in
# the set), and the options. The later volumes must lie beside it under the
# names the packer gave them.
SET_READERS = {
    ("7z", True): (["7zz", "x", "-y", "-bd"], 0),
    ("zip", True): (["7zz", "x", "-y", "-bd"], -1),
    ("arj", True): (["arj", "x", "-v", "-y"], 0),
    ("rar", True): (["unar", "-q", "-D", "-nr"], 0),
    ("rar", False): (["unar", "-q", "-D", "-nr"], 0),
}


class VolumeSetsTest(ZavoCase):
    """The set makers' sets, read by the program each kind's sets need, and
    by none with a volume hidden; zavo converts each set into one archive
    (tests/test_volume_sets.py checks how)."""

    settings = "KeepTime yes\nVerify yes\nAnyExtension no\n"

    def test_sets_are_read_whole_and_never_cut(self):
        stage = os.path.join(self.scratch, "set")
        os.makedirs(stage)
        content = os.urandom(150000)
        with open(os.path.join(stage, "r.bin"), "wb") as f:
            f.write(content)
        sets = {}
        for (kind, new_numbering), (command, given) in SET_READERS.items():
            name = "%s%s" % (kind, "" if new_numbering else "old")
            sets[name] = kind_makers.make_set(kind, self.arc, name, stage, 64,
                                              new_numbering)
            self.assertGreater(len(sets[name]), 2, name)
            for hidden in (None, sets[name][1]):
                out = os.path.join(self.scratch, "out-%s-%s" % (name, hidden))
                os.makedirs(out)
                if hidden:
                    os.rename(os.path.join(self.arc, hidden),
                              os.path.join(self.scratch, hidden))
                code = subprocess.run(
                    command + [os.path.join(self.arc, sets[name][given])],
                    cwd=out, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL, timeout=60).returncode
                if hidden:
                    os.rename(os.path.join(self.scratch, hidden),
                              os.path.join(self.arc, hidden))
                    self.assertNotEqual(0, code, name)
                    continue
                self.assertEqual(0, code, name)
                with open(os.path.join(out, "r.bin"), "rb") as f:
                    self.assertEqual(content, f.read(), name)

        code, lines = self.zavo_lines("*.*")
        self.assertEqual(0, code, lines)
        self.assertEqual(sorted(n + ".7z" for n in sets),
                         sorted(os.listdir(self.arc)))


if __name__ == "__main__":
    unittest.main()
