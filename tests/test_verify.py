"""End-to-end: the Verify setting. The new archive is unpacked again with
the target's own extract template and compared with the work folder; a
packer that leaves a file out, changes a byte or a mode, or a member the
target cannot hold, fails the archive and keeps the original."""

import os
import re
import subprocess
import unittest

from zavo_e2e import SOURCE, ZavoCase, read_bytes, run

# Packs like the default target, from a copy of the folder that it spoils
# first as its first argument says: "drop" leaves f.txt out, "byte"
# changes its fourth byte, "mode" makes x.sh not executable, "none" packs
# faithfully.
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
sys.exit(subprocess.run(["7zz", "a", "-t7z", "-bso0", "-bsp0", "-y", "-snl",
                         "--", archive, "."], cwd=copy,
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
            "add=7zz a -t7z -bd -bso0 -bsp0 -y -snl -- @ArcName @FileName",
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
                         "(0755, 0644 in the new archive)"}
        for how, detail in cases.items():
            with self.subTest(how=how):
                data = self.make_tar(how + ".tar")
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


if __name__ == "__main__":
    unittest.main()
