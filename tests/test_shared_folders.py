"""End-to-end: a tree that others can write in. Archiver templates play the
attacker at the exact moment (the work folder swapped for a link after the
extraction, the next candidate swapped for a link to a private archive),
and nothing outside the tree is deleted, written or packed. Also what a
conversion keeps of a private archive (permissions, owner), the order of
flushes and renames, names that would forge report lines, and two runs at
once in one folder."""

import glob
import os
import re
import shutil
import stat
import subprocess
import unittest

from fault_helpers import (NOBODY, SEVEN_Z, ReliabilityCase, archivers_text,
                           as_nobody, give_to_nobody, make_zip, member_files,
                           with_folders)
from zavo_e2e import read_bytes

EXTRACT = SEVEN_Z["extract"]


class SharedFolderTest(ReliabilityCase):

    def secret_state(self):
        return {rel: read_bytes(os.path.join(self.outside, rel))
                for rel in ("secret.txt", "victim.nfo", "folder/inside.txt")}

    def test_work_folder_swapped_for_a_link_after_extraction(self):
        # Right after unpacking, the work folder and its sub-folder are
        # renamed and links to the outside take their names. Deleting,
        # adding and packing must go on in the folders zavo made.
        swap = ('d=$(pwd -P) && mv "$d/sub" "$d.sub" && '
                'ln -s %s "$d/sub" && mv "$d" "$d.moved" && ln -s %s "$d"'
                % (os.path.join(self.outside, "folder"), self.outside))
        self.write_archivers(archivers_text(
            source={"extract": EXTRACT + " && " + swap}))
        with open(os.path.join(self.root, "victim.nfo"), "wb") as f:
            f.write(b"added by the settings\n")
        self.write_settings("DeleteFile *.nfo\nDeleteFile sub/*.txt\n"
                            "AddFile %s\n" % os.path.join(self.root,
                                                          "victim.nfo"))
        files = {"a.nfo": b"unwanted", "sub/inside.txt": b"unwanted too",
                 "keep.bin": b"kept member"}
        self.add_zip("a.zip", files)
        before = self.secret_state()
        code, lines = self.run_zavo("a.zip")
        self.assertEqual(before, self.secret_state())
        self.assertEqual(self.untouchable["modes"], self.outside_state()["modes"])
        self.assertEqual(0, code, lines)
        self.assertEqual(["[a.zip] -> [a.7z] done!"], lines[1:])
        # The new archive holds what the work folder held: the kept member,
        # the added file and the link as a link, nothing from outside.
        into = os.path.join(self.scratch, "look")
        subprocess.run(["7z", "x", "-bd", "-y", "-o" + into,
                        os.path.join(self.arc, "a.7z")], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
        found = {}
        for folder, dirs, names in os.walk(into):
            for n in dirs + names:
                path = os.path.join(folder, n)
                rel = os.path.relpath(path, into)
                if os.path.islink(path):
                    found[rel] = "link"
                elif os.path.isfile(path):
                    found[rel] = read_bytes(path)
        self.assertEqual({"keep.bin": b"kept member", "sub": "link",
                          "victim.nfo": b"added by the settings\n"}, found)

    def test_next_candidate_swapped_for_a_link_to_a_private_archive(self):
        private = os.path.join(self.outside, "private.zip")
        make_zip(private, {"key": b"private key"})
        os.chmod(private, 0o600)
        mark = os.path.join(self.scratch, "swapped")
        zzz = os.path.join(self.arc, "zzz.zip")
        swap = ('if [ ! -e %s ]; then touch %s && ln -s %s %s.l && '
                'mv -f %s.l %s; fi' % (mark, mark, private, zzz, zzz, zzz))
        self.write_archivers(archivers_text(
            source={"extract": EXTRACT + " && " + swap}))
        self.add_zip("aaa.zip")
        make_zip(zzz, member_files("zzz"))
        code, lines = self.run_zavo("*.zip")
        self.assertEqual(1, code, lines)
        self.assertEqual("[aaa.zip] -> [aaa.7z] done!", lines[1])
        self.assertIn("zzz.zip", lines[2])
        self.assertIn("next archive!", lines[2])
        self.assertFalse(os.path.lexists(os.path.join(self.arc, "zzz.7z")))
        self.assertTrue(os.path.islink(zzz))
        self.assertEqual(0o600, stat.S_IMODE(os.stat(private).st_mode))

    def test_flush_rename_flush_then_unlink(self):
        self.add_zip("a.zip")
        log = os.path.join(self.scratch, "strace.log")
        env = dict(os.environ)
        env.pop("COMSPEC", None)
        # LeakSanitizer cannot work under a tracer and would fail the run.
        env["ASAN_OPTIONS"] = "detect_leaks=0"
        # The list zavo rewrites takes the same order: its new text on the
        # disk before the rename, the folder after it.
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"a.zip the only copy\n")
        self.write_settings("FileList descript.ion\n")
        subprocess.run(["strace", "-f", "-o", log, "-e",
                        "trace=fsync,fdatasync,rename,renameat,renameat2,"
                        "unlink,unlinkat,openat,openat2",
                        os.path.join(self.prog, "zavo"), "a.zip"],
                       cwd=self.arc, env=env, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Only zavo's own calls (its pid is the first line's), in order.
        with open(log) as f:
            calls = f.read().splitlines()
        pid = calls[0].split()[0]
        calls = [c.split(None, 1)[1] for c in calls if c.split()[0] == pid]
        fds = {}
        steps = []
        for c in calls:
            m = re.match(r'openat2?\(\w+, "([^"]*)".*=\s*(\d+)$', c)
            if m:
                fds[m.group(2)] = m.group(1)
                continue
            m = re.match(r"(fsync|fdatasync)\((\d+)\)\s*=\s*0", c)
            if m:
                steps.append(("fsync", os.path.basename(fds.get(m.group(2), "?"))))
            elif re.match(r"renameat2?\(.*\"a\.7z\".*=\s*0", c):
                steps.append(("rename", "a.7z"))
            elif re.match(r"unlinkat?\(.*\"a\.zip\".*=\s*0", c):
                steps.append(("unlink", "a.zip"))
            elif re.match(r"rename(at2?)?\(.*descript\.ion\".*=\s*0", c):
                steps.append(("rename", "descript.ion"))
        rename = steps.index(("rename", "a.7z"))
        # The last removal of that name: the extractor's link is named as
        # the archive too.
        unlink = len(steps) - 1 - steps[::-1].index(("unlink", "a.zip"))
        self.assertLess(rename, unlink, steps)
        self.assertTrue(any(s[0] == "fsync" and s[1].endswith(".7z")
                            for s in steps[:rename]), steps)
        self.assertTrue(any(s[0] == "fsync" for s in steps[rename:unlink]),
                        steps)
        listed = steps.index(("rename", "descript.ion"))
        self.assertIn("fsync", [s[0] for s in steps[unlink:listed]], steps)
        self.assertIn("fsync", [s[0] for s in steps[listed + 1:]], steps)
        with open(os.path.join(self.arc, "descript.ion"), "rb") as f:
            self.assertEqual(b"a.7z the only copy\n", f.read())
        os.remove(os.path.join(self.arc, "descript.ion"))
        self.assertNothingLost(must_be_converted=["a.zip"])

    @unittest.skipIf(os.geteuid() != 0, "needs root to own files of others")
    def test_private_archives_keep_mode_and_owner(self):
        for rel, mode in (("private.zip", 0o600), ("group.zip", 0o640),
                          ("open.zip", 0o644)):
            os.chmod(self.add_zip(rel), mode)
        os.chown(os.path.join(self.arc, "private.zip"), NOBODY, NOBODY)
        # A folder mode in the archive must not open up the work folder.
        mode_seen = os.path.join(self.scratch, "work-mode")
        self.write_archivers(archivers_text(target={
            "add": "stat -c %%a . >> %s && %s" % (mode_seen, SEVEN_Z["add"])}))
        code, lines = self.run_zavo("*.zip", preexec=lambda: os.umask(0o022))
        self.assertEqual(0, code, lines)
        for rel, mode in (("private.7z", 0o600), ("group.7z", 0o640),
                          ("open.7z", 0o644)):
            st = os.stat(os.path.join(self.arc, rel))
            self.assertEqual(mode, stat.S_IMODE(st.st_mode), rel)
        st = os.stat(os.path.join(self.arc, "private.7z"))
        self.assertEqual((NOBODY, NOBODY), (st.st_uid, st.st_gid))
        with open(mode_seen) as f:
            self.assertEqual(["700"] * 3, f.read().split())
        self.assertNothingLost(must_be_converted=list(self.originals))

    @unittest.skipIf(os.geteuid() != 0, "needs root to become another user")
    def test_unprivileged_run_keeps_modes_whatever_the_umask(self):
        os.chmod(self.add_zip("open.zip"), 0o644)
        os.chmod(self.add_zip("private.zip"), 0o600)
        give_to_nobody(self.arc)
        os.chmod(self.root, 0o755)
        code, lines = self.run_zavo("*.zip", prefix=as_nobody(),
                                    preexec=lambda: os.umask(0o077))
        self.assertEqual(0, code, lines)
        self.assertEqual(0o644, stat.S_IMODE(
            os.stat(os.path.join(self.arc, "open.7z")).st_mode))
        self.assertEqual(0o600, stat.S_IMODE(
            os.stat(os.path.join(self.arc, "private.7z")).st_mode))

    def test_names_cannot_forge_lines_or_reach_the_terminal(self):
        forged = "x.zip\n[y.zip] -> [y.7z] done!\nz.zip"
        escape = "\x1b]0;title\x07e.zip"
        # With jobs the lines are collected before they are shown: the
        # same escapes hold there.
        for jobs in ("1", "2"):
            for path in glob.glob(os.path.join(self.arc, "*")):
                os.remove(path)
            self.add_zip(forged)
            self.add_zip(escape)
            code, lines = self.run_zavo("-j", jobs, "*.zip")
            self.assertEqual(0, code, lines)
            self.assertNotIn("[y.zip] -> [y.7z] done!", lines)
            self.assertIn("[x.zip\\n[y.zip] -> [y.7z] done!\\nz.zip] -> "
                          "[x.zip\\n[y.zip] -> [y.7z] done!\\nz.7z] done!",
                          lines)
            self.assertIn("[\\x1b]0;title\\x07e.zip] -> "
                          "[\\x1b]0;title\\x07e.7z] done!", lines)
            self.assertNothingLost(must_be_converted=[forged, escape])

    def test_two_runs_at_once_never_share_a_work_folder(self):
        # Started together, two processes would draw the same names from an
        # unseeded generator; a folder that exists must never be taken.
        for rnd in range(20):
            for i in range(8):
                self.add_zip("r%d/z%d.zip" % (rnd, i))
                self.add_zip("r%d/t%d.zip" % (rnd, i))
            folder = os.path.join(self.arc, "r%d" % rnd)
            runs = [self.start_zavo(mask, cwd=folder)
                    for mask in ("z*.zip", "t*.zip")]
            # A run may find the folder locked by the other and leave it;
            # whatever was converted holds exactly its own members.
            for p in runs:
                code, lines = self.finish(p)
                self.assertIn(code, (0, 1), lines)
        self.assertNothingLost()


if __name__ == "__main__":
    unittest.main()
