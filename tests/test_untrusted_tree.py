"""End-to-end: a tree that someone else can write in, played move by move.
Each test makes the move of one kind of attack that used to work: files
that are no plain files where lists, added files and the report go; an
archive that opens its folder to everyone or brings a device node while it
unpacks; archives that would fill the disk or nest past what can be held
open; another user's file under the new name; names and archiver output
that would drive the terminal; another user's lock on the folder; an
archiver that could reach another job's files."""

import os
import re
import signal
import stat
import subprocess
import tarfile
import time
import unittest

from fault_helpers import (NOBODY, SEVEN_Z, ReliabilityCase, archivers_text,
                           as_nobody, make_zip, wait_for)

EXTRACT = SEVEN_Z["extract"]


def root_only(test):
    return unittest.skipUnless(os.geteuid() == 0, "needs root")(test)


class UntrustedTreeTest(ReliabilityCase):

    def zavo_all(self, *params, timeout=60, preexec=None):
        """Runs zavo, killing it when it outlives `timeout`: a run that
        waits on a pipe fails the test instead of hanging it. Returns
        (code, standard output, standard error)."""
        p = self.start_zavo(*params, preexec=preexec)
        try:
            out, err = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.communicate()
            raise AssertionError("zavo waited longer than %ds" % timeout)
        return (p.returncode, out.decode("latin-1"), err.decode("latin-1"))

    def test_lists_added_files_and_reports_that_are_no_plain_files(self):
        key = os.path.join(self.outside, "secret.txt")
        self.add_zip("a.zip")
        with open(os.path.join(self.arc, "a.zip.bak"), "w"):
            pass
        # A pipe nobody writes to, a link to someone's key, a sparse file
        # of 3 GiB: none is read, waited for or written back.
        os.mkfifo(os.path.join(self.arc, "descript.ion"))
        os.symlink(key, os.path.join(self.arc, "files.bbs"))
        with open(os.path.join(self.arc, "index.txt"), "wb") as f:
            f.truncate(3 << 30)
        self.write_settings("FileList descript.ion\nFileList files.bbs\n"
                            "FileList index.txt\n")
        code, out, err = self.zavo_all("*.zip")
        self.assertEqual(1, code, out + err)
        self.assertIn("[a.zip] -> [a.7z] done!", out)
        for name, why in (("descript.ion", "not a plain file"),
                          ("files.bbs", "Too many levels of symbolic links"),
                          ("index.txt", "larger than 16 MiB")):
            self.assertIn("list [%s] left as it is: %s"
                          % (os.path.join(self.arc, name), why), err)
        self.assertTrue(os.path.islink(os.path.join(self.arc, "files.bbs")))
        self.assertTrue(stat.S_ISFIFO(os.lstat(
            os.path.join(self.arc, "descript.ion")).st_mode))
        self.assertEqual(self.untouchable["outside"],
                         self.outside_state()["outside"])

        # A file an AddFile mask matches that is a pipe fails the archive.
        self.write_settings("AddFile %s\n"
                            % os.path.join(self.outside, "folder", "*.nfo"))
        pipe = os.path.join(self.outside, "folder", "pipe.nfo")
        os.mkfifo(pipe)
        self.addCleanup(lambda: os.path.exists(pipe) and os.remove(pipe))
        self.add_zip("b.zip")
        code, out, err = self.zavo_all("b.zip")
        self.assertEqual(1, code, out + err)
        self.assertIn("adding mistake on [%s]. next archive!"
                      % os.path.join(self.arc, "b.zip"), out)
        os.remove(pipe)

        # A report that is a link is refused before anything is converted.
        report = os.path.join(self.arc, "report.jsonl")
        os.symlink(os.path.join(self.outside, "victim.nfo"), report)
        self.write_settings("")
        code, out, err = self.zavo_all("--report", report, "b.zip")
        self.assertEqual(2, code, out + err)
        self.assertIn("can't open report file [%s]" % report, out)
        self.assertTrue(os.path.isfile(os.path.join(self.arc, "b.zip")))
        self.assertEqual(self.untouchable["outside"]["victim.nfo"],
                         self.outside_state()["outside"]["victim.nfo"])

    def slow_extractor(self):
        """An extractor that unpacks with bsdtar (which gives the folder it
        unpacks into the archive's own "./" mode), then waits until the
        file `release` appears."""
        self.release = os.path.join(self.scratch, "release")
        self.waiting = os.path.join(self.scratch, "waiting")
        script = self.make_fake_archiver("slow", (
            'bsdtar -x --no-same-owner -p -f "$1" </dev/null || exit $?\n'
            'pwd -P > %s\n'
            'while [ ! -e %s ]; do sleep 0.05; done') % (self.waiting,
                                                         self.release))
        self.write_archivers(archivers_text(
            source={"extract": script + " @ArcName"}, extension="tar"))

    @root_only
    def test_nothing_unpacked_is_reachable_by_others(self):
        self.slow_extractor()
        src = os.path.join(self.scratch, "src")
        os.makedirs(src)
        with open(os.path.join(src, "data.txt"), "w") as f:
            f.write("member\n")
        os.chmod(src, 0o777)
        archive = os.path.join(self.arc, "open.tar")
        with tarfile.open(archive, "w") as t:
            t.add(src, arcname=".")
        p = self.start_zavo("open.tar")
        wait_for(lambda: os.path.exists(self.waiting), 30, "the extractor")
        with open(self.waiting) as f:
            unpacked = f.read().strip()
        work = os.path.dirname(unpacked)
        # The archive's "./" opened the folder it unpacked into; the work
        # folder around it stays private, so another user gets nowhere.
        self.assertEqual(0o777, stat.S_IMODE(os.stat(unpacked).st_mode))
        self.assertEqual(0o700, stat.S_IMODE(os.stat(work).st_mode))
        probe = subprocess.run(as_nobody() + ["cat", unpacked + "/data.txt"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertNotEqual(0, probe.returncode)
        open(self.release, "w").close()
        code, lines = self.finish(p)
        self.assertEqual(0, code, lines)

        # A device node in an archive is never made, even by root.
        self.write_archivers(archivers_text(source={
            "extract": "bsdtar -x --no-same-owner -p -f @ArcName </dev/null"},
            extension="tar"))
        archive = os.path.join(self.arc, "dev.tar")
        with tarfile.open(archive, "w") as t:
            info = tarfile.TarInfo("mem")
            info.type, info.mode = tarfile.CHRTYPE, 0o666
            info.devmajor, info.devminor = 1, 1
            t.addfile(info)
        code, lines = self.run_zavo("dev.tar")
        self.assertEqual(1, code, lines)
        self.assertIn("extraction mistake on [%s]. next archive!" % archive,
                      lines)
        self.assertTrue(os.path.isfile(archive))
        self.assertEqual([], [n for n in os.listdir(self.arc)
                              if n.endswith(".tmp")])

    def test_unpacking_is_bounded(self):
        # A tiny archive that unpacks into a file of 4 GiB (sparse, so the
        # test itself costs nothing), a tree nested past MaxDepth made
        # under a descriptor limit far below its depth, and a disk that
        # would be left without KeepFree: each fails, leaving nothing.
        sparse = os.path.join(self.scratch, "big")
        with open(sparse, "wb") as f:
            f.truncate(4 << 30)
        subprocess.run(["tar", "-S", "-czf",
                        os.path.join(self.arc, "bomb.tar.gz"), "-C",
                        self.scratch, "big"], check=True)
        # The deep tree is written into the tar directly: made on disk it
        # would outlast what Python's own tree walks can descend.
        with tarfile.open(os.path.join(self.arc, "deep.tar.gz"), "w:gz",
                          format=tarfile.GNU_FORMAT) as tar:
            for depth in range(1, 1501):
                info = tarfile.TarInfo("/".join(["d"] * depth))
                info.type = tarfile.DIRTYPE
                info.mode = 0o755
                tar.addfile(info)
        self.write_archivers(archivers_text(source={
            "extract": "bsdtar -x --no-same-owner -p -f @ArcName </dev/null"},
            extension="tar.gz"))
        for settings, name, why in (
                ("MaxFileSize 1G\n", "bomb.tar.gz",
                 "a file would have been larger than 1073741824 bytes "
                 "(MaxFileSize)"),
                ("", "deep.tar.gz",
                 "the archive's folders nest deeper than 512 (MaxDepth)"),
                ("KeepFree 1000T\n", "bomb.tar.gz",
                 "stopped: it would have left less than 1099511627776000 "
                 "bytes free on the file system (KeepFree)")):
            self.write_settings(settings)
            archive = os.path.join(self.arc, name)
            code, out, err = self.zavo_all(
                name, timeout=120,
                preexec=lambda: __import__("resource").setrlimit(
                    __import__("resource").RLIMIT_NOFILE, (1024, 1024)))
            self.assertEqual(1, code, out + err)
            self.assertIn("extraction [%s]: %s" % (archive, why), out)
            self.assertIn("extraction mistake on [%s]. next archive!"
                          % archive, out)
            self.assertEqual([], [n for n in os.listdir(self.arc)
                                  if n.endswith(".tmp")], err)

    @root_only
    def test_kill_exist_never_replaces_another_users_file(self):
        os.chmod(self.arc, 0o1777)
        self.add_zip("x.zip")
        os.chown(os.path.join(self.arc, "x.zip"), NOBODY, NOBODY)
        theirs = os.path.join(self.arc, "x.7z")
        with open(theirs, "wb") as f:
            f.write(b"another user's archive")
        os.chown(theirs, 4242, 4242)
        self.write_settings("KillExist yes\n")
        code, lines = self.run_zavo("x.zip")
        self.assertEqual((1, ["processing folder [%s]" % self.arc,
                              "[x.zip] -> [x.7z] exists, not replaced!"]),
                         (code, lines))
        with open(theirs, "rb") as f:
            self.assertEqual(b"another user's archive", f.read())

    def test_names_and_archiver_output_never_reach_the_terminal_raw(self):
        # ESC, the C1 CSI as a single byte and in UTF-8, and a bidirectional
        # override, in an archive's name and in what its archiver prints.
        name = "\x1b]0;t\x07-\udc9b2J-\u009b2J-\u202e.zip"
        loud = self.make_fake_archiver("loud", (
            'printf "%%s\\n" "$1" "out \\033[2J\\302\\2331m"\n'
            'printf "err \\233%%s\\n" "$1" >&2\n%s') % EXTRACT.replace(
                "@ArcName", '"$1"'))
        self.write_archivers(archivers_text(
            source={"extract": loud + " @ArcName"}))
        raw_name = name.encode("utf-8", "surrogateescape")
        archive = os.path.join(os.fsencode(self.arc), raw_name)
        for jobs in ("1", "2"):
            make_zip(os.fsdecode(archive), {"m.txt": b"m"})
            p = self.start_zavo("-j", jobs, "*.zip")
            out, err = p.communicate(timeout=120)
            self.assertEqual(0, p.returncode, out + err)
            for stream in (out, err):
                for bad in (b"\x1b", b"\x07", b"\x9b", b"\xe2\x80\xae"):
                    self.assertNotIn(bad, stream.replace(b"\\x1b", b""))
            self.assertIn(b"\\xc2\\x9b2J", out)
            self.assertIn(b"err \\x9b", err)
            os.remove(archive[:-4] + b".7z")

    @root_only
    def test_a_lock_held_by_someone_who_may_not_write_there_is_passed_over(self):
        self.add_zip("a.zip")
        os.chmod(self.arc, 0o755)
        lock = subprocess.Popen(as_nobody() + [
            "flock", "-x", self.arc, "sleep", "60"], start_new_session=True)
        try:
            time.sleep(0.5)
            code, out, err = self.zavo_all("a.zip")
            self.assertEqual(0, code, out + err)
            self.assertIn("[a.zip] -> [a.7z] done!", out)
            self.assertIn("folder [%s/] is locked by user %d, who may not "
                          "write in it: the lock is passed over"
                          % (self.arc, NOBODY), err)
        finally:
            os.killpg(lock.pid, signal.SIGKILL)
            lock.wait()
        # A lock of a user who may write there holds.
        self.add_zip("b.zip")
        lock = subprocess.Popen(["flock", "-x", self.arc, "sleep", "60"],
                                start_new_session=True)
        try:
            time.sleep(0.5)
            code, out, err = self.zavo_all("b.zip")
            self.assertEqual(1, code, out + err)
            self.assertIn("folder [%s] is being converted by another run"
                          % self.arc, out)
        finally:
            os.killpg(lock.pid, signal.SIGKILL)
            lock.wait()

    def test_an_archiver_holds_only_its_own_jobs_descriptors(self):
        record = os.path.join(self.scratch, "fds")
        os.makedirs(record)
        spy = self.make_fake_archiver("spy", (
            'out=%s/$(basename "$1")\n'
            'for f in /proc/$$/fd/*; do readlink "$f"; done > "$out"\n'
            'sleep 0.3\n%s') % (record, EXTRACT.replace("@ArcName", '"$1"')))
        self.write_archivers(archivers_text(
            source={"extract": spy + " @ArcName"}))
        names = ["a%d.zip" % i for i in range(6)]
        for n in names:
            self.add_zip(n)
        code, lines = self.run_zavo("-j", "2", "*.zip")
        self.assertEqual(0, code, lines)
        for n in names:
            with open(os.path.join(record, n)) as f:
                targets = f.read().split("\n")
            work = {t.split("/x")[0] for t in targets if re.search(
                r"/[0-9a-f]{8}\.tmp(/|$)", t)}
            # One work folder, its own; no other archive; the spy's own
            # script and the collected output aside.
            self.assertLessEqual(len(work), 1, targets)
            for other in names:
                if other != n:
                    self.assertFalse(any(other in t for t in targets),
                                     (n, targets))


if __name__ == "__main__":
    unittest.main()
