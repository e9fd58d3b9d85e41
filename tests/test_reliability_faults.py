"""End-to-end: whatever goes wrong around a conversion (an archiver that
fails, is killed or hangs, a packer that lies, a full disk, missing
permissions), every original archive survives byte for byte or its converted
form stands complete under the final name, and nothing outside the tree
changes."""

import os
import signal
import subprocess
import time
import unittest

from fault_helpers import (ReliabilityCase, archivers_text, as_nobody,
                           file_size_limit, give_to_nobody, member_files,
                           with_folders,
                           wait_for)
from zavo_e2e import read_bytes


class ArchiverFaultTest(ReliabilityCase):

    settings = "KeepTime yes\n"

    def fail_lines(self, step, names=("a.zip", "b.zip")):
        return ["processing folder [%s]" % self.arc] + [
            "%s mistake on [%s/%s]. next archive!" % (step, self.arc, n)
            for n in names]

    def test_archivers_that_fail_or_die_lose_nothing(self):
        fail = self.make_fake_archiver("fail", "exit 3")
        # After writing a little into the work folder, as a real archiver
        # would have.
        segv = self.make_fake_archiver(
            "segv", 'case "$PWD" in *.tmp) echo partial > partial.out;; esac; '
            'kill -SEGV $$')
        self.add_zip("a.zip")
        self.add_zip("b.zip")
        for tool in (fail, segv):
            for step, target, source in [
                    ("extraction", None, {"extract": tool + " @ArcName"}),
                    ("packing", {"add": tool + " @ArcName"}, None),
                    ("testing", {"test": tool + " @ArcName"}, None)]:
                self.write_archivers(archivers_text(target, source))
                code, lines = self.run_zavo("*.zip")
                self.assertEqual((1, self.fail_lines(step)), (code, lines),
                                 (tool, step))
                self.assertEqual({"a.zip": "kept", "b.zip": "kept"},
                                 self.assertNothingLost(), (tool, step))

    def test_archivers_that_hang_are_killed_and_nothing_is_lost(self):
        pid_file = os.path.join(self.scratch, "hung.pid")
        hang = self.make_fake_archiver(
            "hang", 'echo $$ > "%s.tmp" && mv "%s.tmp" "%s"; exec sleep 600'
            % ((pid_file,) * 3))
        self.add_zip("a.zip")
        self.add_zip("b.zip")
        for step, target, source, sig in [
                ("extraction", None, {"extract": hang}, signal.SIGKILL),
                ("packing", {"add": hang}, None, signal.SIGTERM),
                ("testing", {"test": hang}, None, signal.SIGINT)]:
            self.write_archivers(archivers_text(target, source))
            p = self.start_zavo("*.zip")
            for _ in range(2):
                wait_for(lambda: os.path.exists(pid_file), 60, "the archiver")
                # zavo waits as long as its archiver; only it is stopped.
                time.sleep(0.2)
                self.assertIsNone(p.poll(), "zavo ended with a hanging archiver")
                with open(pid_file) as f:
                    pid = int(f.read())
                os.remove(pid_file)
                os.kill(pid, sig)
            code, lines = self.finish(p, timeout=60)
            self.assertEqual((1, self.fail_lines(step)), (code, lines), step)
            self.assertEqual({"a.zip": "kept", "b.zip": "kept"},
                             self.assertNothingLost(), step)

    def test_a_packer_that_lies_is_caught(self):
        # Each packer exits 0. The tester (7z, or a failing one) must catch
        # what is wrong; without a tester the archive must at least exist.
        cut = self.make_fake_archiver(
            "cut", '7z a -t7z -bd -bso0 -bsp0 -y -- "$1" . </dev/null && '
            'size=$(stat -c %s "$1") && head -c $((size / 2)) "$1" > "$1.cut" '
            '&& mv "$1.cut" "$1"')
        empty = self.make_fake_archiver("empty", ': > "$1"')
        nothing = self.make_fake_archiver("nothing", "exit 0")
        alien = self.make_fake_archiver(
            "alien", 'cp "%s" "$1"' % os.path.join(self.outside, "secret.txt"))
        # 66 is what some tools exit with when they cannot read their input.
        says_66 = self.make_fake_archiver("says66", "exit 66")
        self.add_zip("a.zip")
        self.add_zip("b.zip")
        for step, target in [
                ("testing", {"add": cut + " @ArcName"}),
                ("testing", {"add": empty + " @ArcName"}),
                # A packer that says it packed and left nothing fails its
                # own step.
                ("packing", {"add": nothing + " @ArcName"}),
                ("testing", {"add": alien + " @ArcName"}),
                ("testing", {"add": cut + " @ArcName",
                             "test": says_66 + " @ArcName"}),
                ("packing", {"add": nothing + " @ArcName", "test": ""})]:
            self.write_archivers(archivers_text(target))
            code, lines = self.run_zavo("*.zip")
            self.assertEqual((1, self.fail_lines(step)), (code, lines), target)
            self.assertEqual({"a.zip": "kept", "b.zip": "kept"},
                             self.assertNothingLost(), target)

    def test_stop_on_error_after_a_killed_packer_keeps_the_rest(self):
        self.write_settings("StopOnError yes\n")
        killed = self.make_fake_archiver("killed", "kill -KILL $$")
        self.add_zip("a.zip")
        self.add_zip("b.zip")
        self.write_archivers(archivers_text({"add": killed + " @ArcName"}))
        code, lines = self.run_zavo("*.zip")
        self.assertEqual((2, ["processing folder [%s]" % self.arc,
                              "packing mistake on [%s/a.zip]." % self.arc,
                              "exiting..."]), (code, lines))
        self.assertNothingLost()


class DiskFullTest(ReliabilityCase):
    """The tree lies on a small memory file system, filled up but for the
    room a test leaves; writes past it fail with "no space left"."""

    # KeepFree 0: what is tested here is a write that fails, not the
    # margin that would stop the archiver before it.
    settings = "KeepTime yes\nKeepFree 0\n"
    # Room for the unpacked contents but not for the new archive as well.
    packing_room = 750 << 10

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0 or subprocess.run(
                ["mount", "-t", "tmpfs", "-o", "size=8m,mode=0755", "zavo-test",
                 self.arc], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a small file system here")
        self.room = None

    def tearDown(self):
        subprocess.run(["umount", "-l", self.arc])
        super().tearDown()

    def limit(self, room):
        """Leaves `room` bytes free; returns the run's extra options."""
        filler = os.path.join(self.arc, "filler")
        if os.path.exists(filler):
            os.remove(filler)
        st = os.statvfs(self.arc)
        with open(filler, "wb") as f:
            f.write(b"\0" * (st.f_bavail * st.f_frsize - room))
        self.extras = ("filler",)
        return {}

    # Random bytes do not compress: unpacking needs the archive's size again,
    # and so does packing.
    def test_disk_fills_while_extracting_or_packing(self):
        self.extras = ()
        self.add_zip("a.zip", {"one.bin": os.urandom(250 << 10),
                               "two.bin": os.urandom(250 << 10)})
        for room, step in ((self.packing_room, "packing"),
                           (100 << 10, "extraction")):
            code, lines = self.run_zavo("a.zip", **self.limit(room))
            self.assertEqual((1, ["processing folder [%s]" % self.arc,
                                  "%s mistake on [%s/a.zip]. next archive!"
                                  % (step, self.arc)]), (code, lines), step)
            self.assertEqual({"a.zip": "kept"},
                             self.assertNothingLost(extra=self.extras))

    def test_disk_fills_while_copying_added_files(self):
        self.extras = ()
        add = os.path.join(self.scratch, "add")
        os.makedirs(add)
        with open(os.path.join(add, "big.nfo"), "wb") as f:
            f.write(os.urandom(1 << 20))
        self.write_settings("KeepTime yes\nKeepFree 0\nAddFile %s/*.nfo\n"
                            % add)
        self.add_zip("a.zip")
        code, lines = self.run_zavo("a.zip", **self.limit(512 << 10))
        # A file that could not be added whole fails the archive, which
        # stays as it was.
        self.assertEqual({"a.zip": "kept"},
                         self.assertNothingLost(extra=self.extras))
        self.assertEqual(
            (1, "adding mistake on [%s/a.zip]. next archive!" % self.arc),
            (code, lines[-1]))


class FileSizeLimitTest(DiskFullTest):
    """The same with a limit on the size of every file zavo and its archivers
    write, as where no file system can be mounted: such writes end the
    writer with SIGXFSZ unless it handles that, and fail with EFBIG."""

    # Every unpacked file fits, the new archive does not.
    packing_room = 350 << 10

    def setUp(self):
        ReliabilityCase.setUp(self)

    def tearDown(self):
        ReliabilityCase.tearDown(self)

    def limit(self, room):
        self.extras = ()
        return {"preexec": file_size_limit(room)}


class PermissionTest(ReliabilityCase):
    """Run as an unprivileged user, since root may write anywhere."""

    settings = "KeepTime yes\n"

    def run_as_nobody(self, *params):
        give_to_nobody(self.arc)
        os.chmod(self.root, 0o755)
        return self.run_zavo(*params, prefix=as_nobody())

    def test_read_only_folder_and_read_only_archive(self):
        self.add_zip("locked/a.zip")
        self.add_zip("ro.zip")
        give_to_nobody(self.arc)
        os.chmod(os.path.join(self.arc, "locked"), 0o555)
        os.chmod(os.path.join(self.arc, "ro.zip"), 0o444)
        code, lines = self.run_zavo("/r", "*.zip", prefix=as_nobody())
        self.assertEqual(1, code, lines)
        self.assertEqual(
            ["processing folder [%s]" % self.arc,
             "[ro.zip] -> [ro.7z] done!",
             "processing folder [%s/locked]" % self.arc,
             "extraction mistake on [%s/locked/a.zip]. next archive!" % self.arc],
            lines)
        # A read-only archive is converted but never deleted.
        self.assertEqual({"locked/a.zip": "kept", "ro.zip": "kept"},
                         self.assertNothingLost(extra=("ro.7z",)))
        self.assertEqual(with_folders(member_files("ro.zip")),
                         self.converted_members(os.path.join(self.arc, "ro.7z")))
        self.assertEqual(0o444, os.stat(os.path.join(self.arc, "ro.zip")).st_mode & 0o777)

    def test_final_name_taken_by_a_read_only_file_or_a_folder(self):
        self.add_zip("file.zip")
        self.add_zip("dir.zip")
        with open(os.path.join(self.arc, "file.7z"), "wb") as f:
            f.write(b"someone else's")
        os.chmod(os.path.join(self.arc, "file.7z"), 0o444)
        os.makedirs(os.path.join(self.arc, "dir.7z", "inner"))
        with open(os.path.join(self.arc, "dir.7z", "inner", "x"), "wb") as f:
            f.write(b"someone else's folder")
        before = {p: read_bytes(os.path.join(self.arc, p))
                  for p in ("file.7z", "dir.7z/inner/x")}
        extras = ("file.7z", "dir.7z/inner/x")
        for kill_exist, verdict in (("no", "exists, not replaced!"),
                                    ("yes", None)):
            self.write_settings("KillExist %s\n" % kill_exist)
            code, lines = self.run_as_nobody("*.zip")
            self.assertEqual(1, code, lines)
            if verdict:
                expected = ["[dir.zip] -> [dir.7z] %s" % verdict,
                            "[file.zip] -> [file.7z] %s" % verdict]
            else:
                expected = ["replacing mistake on [%s/%s]. next archive!"
                            % (self.arc, n) for n in ("dir.zip", "file.zip")]
            self.assertEqual(["processing folder [%s]" % self.arc] + expected,
                             lines)
            self.assertEqual({"file.zip": "kept", "dir.zip": "kept"},
                             self.assertNothingLost(extra=extras))
            for p, data in before.items():
                self.assertEqual(data, read_bytes(os.path.join(self.arc, p)))
            self.assertEqual(0o444, os.stat(os.path.join(self.arc, "file.7z")).st_mode & 0o777)

    def test_unpacked_folders_without_write_permission_are_cleared(self):
        # A tar keeps the modes of its folders: unpacked, the user may not
        # delete inside them. A failed packing must still leave no trace.
        stage = os.path.join(self.scratch, "stage")
        os.makedirs(os.path.join(stage, "locked", "deep"))
        with open(os.path.join(stage, "locked", "deep", "f.txt"), "wb") as f:
            f.write(b"in a locked folder\n")
        os.chmod(os.path.join(stage, "locked", "deep"), 0o555)
        os.chmod(os.path.join(stage, "locked"), 0o500)
        tar = os.path.join(self.arc, "t.tar")
        subprocess.run(["tar", "-cf", tar, "-C", stage, "."], check=True)
        with open(tar, "rb") as f:
            self.originals["t.tar"] = (f.read(), None)
        failing = self.make_fake_archiver("fail", "exit 2")
        self.write_archivers(archivers_text({"add": failing}) +
                             "[tar]\r\nextension=tar\r\nextract=tar -xf @ArcName\r\n")
        code, lines = self.run_as_nobody("t.tar")
        self.assertEqual(["processing folder [%s]" % self.arc,
                          "packing mistake on [%s/t.tar]. next archive!" % self.arc],
                         lines)
        self.assertEqual({"t.tar": "kept"}, self.assertNothingLost())


if __name__ == "__main__":
    unittest.main()
