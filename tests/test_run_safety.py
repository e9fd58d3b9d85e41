"""End-to-end: what a whole run promises beyond one archive. Two runs at once
in one folder, KillExist and the run's own products, nested runs whose
failures and depth count, interruptions, children that cannot ask a person,
and list files that keep up with every conversion."""

import io
import json
import os
import pty
import select
import shutil
import signal
import subprocess
import tarfile
import threading
import time
import unittest

from fault_helpers import (ReliabilityCase, WORK_FOLDER, archivers_text,
                           as_nobody, give_to_nobody, group_runs, make_zip,
                           member_files, process_group_alive, wait_for,
                           with_folders)
from zavo_e2e import read_bytes

SEVEN_Z_EXTRACT = "7z x -bd -bso0 -bsp0 -y -- @ArcName </dev/null"


def make_tar(path, files, mode="w"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with tarfile.open(path, mode) as t:
        for name, data in sorted(files.items()):
            info = tarfile.TarInfo(name)
            if data is None:
                info.type = tarfile.DIRTYPE
                t.addfile(info)
            else:
                info.size = len(data)
                t.addfile(info, io.BytesIO(data))
    return read_bytes(path)


def nested_zip(path, levels, copies=1, leaf=b"leaf\n"):
    """A zip holding `copies` zips, each holding `copies` zips, `levels`
    deep; the innermost hold one file."""
    data = make_zip(path + ".leaf", {"leaf.txt": leaf})
    os.remove(path + ".leaf")
    for level in range(levels - 1, 0, -1):
        data = make_zip(path + ".tmpzip", {"n%d_%d.zip" % (level, c): data
                                           for c in range(copies)})
        os.remove(path + ".tmpzip")
    return make_zip(path, {"n0_%d.zip" % c: data for c in range(copies)})


def list_text(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1")


class RunSafetyCase(ReliabilityCase):

    def use_tar_too(self):
        """zip and tar (plain and gzip) to 7z."""
        text = archivers_text()
        for ext, flag in (("tar", ""), ("tgz", "z")):
            text += "\r\n[%s]\r\nextension=%s\r\nextract=tar -x%sf @ArcName " \
                    "</dev/null\r\n" % (ext, ext, flag)
        self.write_archivers(text)

    def add_tar(self, rel, files=None, mode="w"):
        files = member_files(rel) if files is None else files
        self.originals[rel] = (make_tar(os.path.join(self.arc, rel), files,
                                        mode), files)


class ConcurrentRunsTest(RunSafetyCase):

    def test_two_runs_in_one_folder_keep_apart(self):
        self.use_tar_too()
        rounds = int(os.environ.get("ZAVO_CONCURRENT_ROUNDS", "20"))
        for round_number in range(rounds):
            shutil.rmtree(self.arc)
            os.makedirs(self.arc)
            self.originals = {}
            for i in range(12):
                self.add_zip("z%02d.zip" % i)
                self.add_tar("t%02d.tar" % i)
            runs = [self.start_zavo("*.zip"), self.start_zavo("*.tar")]
            results = [self.finish(p) for p in runs]
            busy = "folder [%s] is being converted by another run" % self.arc
            for code, lines in results:
                # Either run may find the folder locked by the other and
                # leave it, saying so; then it converts nothing.
                if busy in lines:
                    self.assertEqual(1, code, (round_number, lines))
                    self.assertFalse(any(l.endswith("done!") for l in lines))
                else:
                    self.assertEqual(0, code, (round_number, lines))
                    self.assertEqual(13, len(lines), (round_number, lines))
            # No archive holds another's members, none is lost.
            self.assertNothingLost()
            for mask in ("*.zip", "*.tar"):
                self.assertEqual(0, self.run_zavo(mask)[0])
            self.assertNothingLost(must_be_converted=set(self.originals))


class OwnProductsTest(RunSafetyCase):

    settings = "KillExist yes\nFileList descript.ion\n"

    def test_kill_exist_replaces_only_what_was_there_before_the_run(self):
        self.use_tar_too()
        self.add_tar("a.tgz", mode="w:gz")
        self.add_zip("a.zip")
        self.add_zip("c.zip")
        with open(os.path.join(self.arc, "c.7z"), "wb") as f:
            f.write(b"an old c.7z\n")
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"a.tgz tar one\r\na.zip zip one\r\nc.zip c\r\n")
        code, lines = self.run_zavo("*.*")
        self.assertEqual(1, code, lines)
        self.assertEqual(["processing folder [%s]" % self.arc,
                          "[a.tgz] -> [a.7z] done!",
                          "[a.zip] -> [a.7z] exists, not replaced!",
                          "[c.zip] -> [c.7z] done!"], lines)
        # a.7z is the tar's, made by this run: never replaced by it.
        self.assertEqual(with_folders(member_files("a.tgz")),
                         self.converted_members(os.path.join(self.arc, "a.7z")))
        self.assertEqual(self.originals["a.zip"][0],
                         read_bytes(os.path.join(self.arc, "a.zip")))
        # c.7z was there before the run: KillExist lets the new one replace it.
        self.assertEqual(with_folders(member_files("c.zip")),
                         self.converted_members(os.path.join(self.arc, "c.7z")))
        self.assertEqual("a.7z tar one\r\na.zip zip one\r\nc.7z c\r\n",
                         list_text(os.path.join(self.arc, "descript.ion")))


class NestedRunsTest(RunSafetyCase):

    def encrypted_zip_bytes(self):
        stage = os.path.join(self.scratch, "enc")
        os.makedirs(stage, exist_ok=True)
        with open(os.path.join(stage, "secret.txt"), "wb") as f:
            f.write(b"secret\n")
        subprocess.run(["zip", "-q", "-P", "pw", "enc.zip", "secret.txt"],
                       cwd=stage, check=True)
        return read_bytes(os.path.join(stage, "enc.zip"))

    def test_a_failed_nested_archive_makes_the_run_end_1(self):
        enc = self.encrypted_zip_bytes()
        inner = make_zip(os.path.join(self.scratch, "inner.zip"),
                         {"x.txt": b"x\n"})
        self.originals["outer.zip"] = (make_zip(
            os.path.join(self.arc, "outer.zip"),
            {"enc.zip": enc, "inner.zip": inner, "t.txt": b"t\n"}), None)
        code, lines = self.run_zavo("/n", "outer.zip")
        self.assertEqual(1, code, lines)
        self.assertIn("[outer.zip] -> [outer.7z] done!", lines)
        self.assertTrue(any(l.startswith("extraction mistake on [") and
                            l.endswith("/enc.zip]. next archive!")
                            for l in lines), lines)
        members = self.converted_members(os.path.join(self.arc, "outer.7z"))
        # The nested archive stays as it was; the good one is converted.
        self.assertEqual(enc, members["enc.zip"])
        self.assertIn("inner.7z", members)

    def test_a_nested_stop_fails_the_outer_archive_and_stops_the_run(self):
        self.write_settings("StopOnError yes\nFileList descript.ion\n")
        enc = self.encrypted_zip_bytes()
        self.add_zip("a.zip")
        self.originals["b.zip"] = (make_zip(os.path.join(self.arc, "b.zip"),
                                            {"enc.zip": enc}), None)
        self.add_zip("c.zip")
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"a.zip first\r\nb.zip second\r\nc.zip third\r\n")
        code, lines = self.run_zavo("/n", "*.zip")
        self.assertEqual(2, code, lines)
        self.assertIn("[a.zip] -> [a.7z] done!", lines)
        self.assertEqual(["nested mistake on [%s/b.zip]." % self.arc,
                          "exiting..."], lines[-2:])
        self.assertEqual({"a.zip": "converted", "b.zip": "kept",
                          "c.zip": "kept"},
                         self.assertNothingLost(extra=("descript.ion",)))
        # The lists were saved before the stop.
        self.assertEqual("a.7z first\r\nb.zip second\r\nc.zip third\r\n",
                         list_text(os.path.join(self.arc, "descript.ion")))

    def test_sixty_levels_end_in_time_at_the_depth_limit(self):
        self.originals["deep.zip"] = (nested_zip(
            os.path.join(self.arc, "deep.zip"), 60), None)
        started = time.monotonic()
        code, lines = self.run_zavo("/n", "deep.zip", timeout=60)
        self.assertLess(time.monotonic() - started, 40)
        self.assertEqual(1, code, lines)
        deep = [l for l in lines if l.endswith("nested too deep, left as it is!")]
        self.assertEqual(["[n16_0.zip] nested too deep, left as it is!"], deep)
        self.assertEqual("[deep.zip] -> [deep.7z] done!", lines[-1])
        # Levels 1 to 16 are converted, level 17 is packed as it was.
        members = self.converted_members(os.path.join(self.arc, "deep.7z"))
        self.assertEqual(["n0_0.7z"], sorted(members))

    def test_depth_and_count_limits_are_settings(self):
        self.write_settings("MaxNesting 2\nMaxNestedArchives 1000\n")
        # With one job and with two, the archive left is in the report too.
        for jobs in ("1", "2"):
            nested_zip(os.path.join(self.arc, "d.zip"), 4)
            report = os.path.join(self.scratch, "report%s.jsonl" % jobs)
            code, lines = self.run_zavo("-j", jobs, "--report", report,
                                        "/n", "d.zip")
            self.assertEqual(1, code, lines)
            self.assertEqual(["[n2_0.zip] nested too deep, left as it is!"],
                             [l for l in lines if "too deep" in l])
            with open(report, encoding="utf-8") as f:
                left = [r for r in map(json.loads, f)
                        if r.get("status") == "left"]
            self.assertEqual(1, len(left), left)
            self.assertEqual(("n2_0.zip", "nesting limit",
                              "[n2_0.zip] nested too deep, left as it is!"),
                             (os.path.basename(left[0]["old"]),
                              left[0]["reason"], left[0]["message"]), jobs)
            self.assertIsNotNone(left[0]["old_sha256"])
            self.assertLess(left[0]["seconds"], 60)
            os.remove(os.path.join(self.arc, "d.7z"))
        # A bomb: 4 copies a level, 6 levels (5,460 archives) within 30.
        self.write_settings("MaxNestedArchives 30\n")
        nested_zip(os.path.join(self.arc, "bomb.zip"), 6, copies=4)
        started = time.monotonic()
        code, lines = self.run_zavo("/n", "bomb.zip", timeout=120)
        self.assertLess(time.monotonic() - started, 60)
        self.assertEqual(1, code, lines)
        done = [l for l in lines if l.endswith(" done!")]
        refused = [l for l in lines if l.endswith("too many nested archives,"
                                                  " left as it is!")]
        self.assertEqual(31, len(done), lines)
        self.assertGreater(len(refused), 0)
        self.assertEqual("[bomb.zip] -> [bomb.7z] done!", lines[-1])


class InterruptionTest(RunSafetyCase):

    settings = "FileList descript.ion\n"

    def slow_extractor(self):
        """Extracts with 7z, then waits as a large extraction would; its
        process group is written down for the test."""
        record = os.path.join(self.scratch, "extractor")
        script = self.make_fake_archiver(
            "slow", '7z x -bd -bso0 -bsp0 -y -- "$1" </dev/null\n'
            'read -r p c s pp g rest </proc/$$/stat\n'
            'echo $g > %s.tmp && mv %s.tmp %s\n'
            'sleep 60' % (record, record, record))
        self.write_archivers(archivers_text(source={
            "extract": script + " @ArcName"}))
        return record

    def test_an_interruption_cleans_up_and_keeps_the_lists(self):
        record = self.slow_extractor()
        for sig, code in ((signal.SIGINT, 130), (signal.SIGTERM, 143),
                          (signal.SIGHUP, 129)):
            shutil.rmtree(self.arc)
            os.makedirs(self.arc)
            self.originals = {}
            if os.path.exists(record):
                os.remove(record)
            self.add_zip("a.zip")
            self.add_zip("b.zip")
            with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
                f.write(b"a.zip one\r\nb.zip two\r\n")
            # a.zip's extraction is the first to wait.
            p = self.start_zavo("*.zip")
            wait_for(lambda: os.path.exists(record), 30, "the extractor")
            with open(record) as f:
                group = int(f.read())
            # Its shell waits for the sleep: a signal that came while the
            # shell was still starting it would reach a child that has not
            # taken its own handlers yet, and be lost to it.
            wait_for(lambda: group_runs(group, "sleep"), 30, "the sleep")
            os.kill(p.pid, sig)
            started = time.monotonic()
            got, lines = self.finish(p, timeout=30)
            self.assertLess(time.monotonic() - started, 5, sig)
            self.assertIn(got, (code, -sig), (sig, lines))
            self.assertEqual("run interrupted on [%s/a.zip]." % self.arc,
                             lines[-2], lines)
            # The extractor's shell and its sleep, not only zavo's child.
            wait_for(lambda: not process_group_alive(group), 5,
                     "the extractor's group to end after %s" % sig)
            # Nothing but the originals and the list: no work folder.
            self.assertEqual({"a.zip": "kept", "b.zip": "kept"},
                             self.assertNothingLost(extra=("descript.ion",)))

    def test_a_work_folder_left_behind_is_named(self):
        self.add_zip("a.zip")
        left = os.path.join(self.arc, "0badf00d.tmp")
        os.makedirs(left)
        # A run at work holds its folder claimed; this one nobody holds.
        with open(os.path.join(left, "part"), "wb") as f:
            f.write(b"what a killed run unpacked\n")
        code, lines = self.run_zavo("*.zip")
        self.assertEqual(0, code, lines)
        self.assertIn("work folder [%s] left by a stopped run, not entered"
                      % left, lines)
        self.assertTrue(os.path.exists(os.path.join(left, "part")))

    def test_an_archiver_asking_on_the_terminal_fails_at_once(self):
        # bsdtar asks for a zip's passphrase on /dev/tty, whatever its input.
        stage = os.path.join(self.scratch, "enc")
        os.makedirs(stage)
        with open(os.path.join(stage, "s.txt"), "wb") as f:
            f.write(b"s\n")
        subprocess.run(["zip", "-q", "-P", "pw", "enc.zip", "s.txt"],
                       cwd=stage, check=True)
        shutil.copy(os.path.join(stage, "enc.zip"), self.arc)
        self.write_archivers(archivers_text(source={
            "extract": "bsdtar -xf @ArcName </dev/null"}))
        pid, terminal = pty.fork()
        if pid == 0:
            os.chdir(self.arc)
            os.execv(os.path.join(self.prog, "zavo"), ["zavo", "enc.zip"])
        output = b""
        deadline = time.monotonic() + 20
        status = None
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            if select.select([terminal], [], [], 0.1)[0]:
                try:
                    output += os.read(terminal, 4096)
                except OSError:
                    pass
        else:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            self.fail("zavo waited for a passphrase: %r" % output[-200:])
        while select.select([terminal], [], [], 0.2)[0]:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        os.close(terminal)
        self.assertEqual(1, os.waitstatus_to_exitcode(status), output[-300:])
        self.assertIn(b"extraction mistake on [", output)


class ListsKeepUpTest(RunSafetyCase):

    settings = "FileList descript.ion\n"

    def test_stop_on_error_saves_the_lists(self):
        self.write_settings("StopOnError yes\nFileList descript.ion\n")
        self.add_zip("a.zip")
        with open(os.path.join(self.arc, "b.zip"), "wb") as f:
            f.write(b"not a zip at all")
        self.originals["b.zip"] = (b"not a zip at all", None)
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"a.zip one\r\nb.zip two\r\n")
        code, lines = self.run_zavo("*.zip")
        self.assertEqual(2, code, lines)
        self.assertEqual("a.7z one\r\nb.zip two\r\n",
                         list_text(os.path.join(self.arc, "descript.ion")))

    @unittest.skipUnless(shutil.which("strace"), "needs strace")
    def test_the_entry_follows_an_archive_when_the_run_is_killed(self):
        self.add_zip("a.zip")
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"a.zip one\r\n")
        # Killed as the work folder's clean-up begins, after the conversion.
        p = self.start_zavo("a.zip", prefix=(
            "strace", "-o", "/dev/null", "-e", "trace=rmdir",
            "-e", "inject=rmdir:signal=SIGKILL:when=1"))
        p.communicate(timeout=60)
        self.assertEqual({"a.zip": "converted"}, self.assertNothingLost(
            work_folders_allowed=True, extra=("descript.ion",)))
        self.assertEqual("a.7z one\r\n",
                         list_text(os.path.join(self.arc, "descript.ion")))

    def test_a_list_that_cannot_be_saved_is_reported(self):
        # A shared folder (sticky, like /tmp) whose list belongs to someone
        # else: the archives convert, the list cannot be replaced.
        self.add_zip("a.zip")
        give_to_nobody(self.arc)
        os.chown(self.arc, 0, 0)
        os.chmod(self.arc, 0o1777)
        listed = os.path.join(self.arc, "descript.ion")
        with open(listed, "wb") as f:
            f.write(b"a.zip one\r\n")
        os.chown(listed, 0, 0)
        os.chmod(self.root, 0o755)
        code, lines = self.run_zavo("a.zip", prefix=as_nobody())
        self.assertEqual(1, code, lines)
        self.assertIn("[a.zip] -> [a.7z] done!", lines)
        self.assertTrue(any(l.startswith("can't save list [%s]" % listed)
                            for l in lines), lines)


if __name__ == "__main__":
    unittest.main()
