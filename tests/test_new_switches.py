"""End-to-end: what users of other repackers expect: choosing the target
(-t), keeping the originals (--keep), quiet runs over nested archives (-q)
and their summary, a status line that fits its terminal, a dry run that
counts the names the run itself takes, and archivers' messages tied to
their archive and step."""

import fcntl
import io
import json
import os
import pty
import re
import select
import shutil
import struct
import subprocess
import tarfile
import termios
import time
import unittest
import zipfile

import kind_makers
from zavo_e2e import BANNER, ZavoCase, read_bytes, mode

TITLE = BANNER[1]


def zip_bytes(members):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, data in members.items():
            z.writestr(name, data)
    return buffer.getvalue()


def tar_gz_bytes(members):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz") as t:
        for name, data in members.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def members(archive):
    """The member names bsdtar lists (7z, zip and tar alike)."""
    out = subprocess.run(["bsdtar", "-tf", archive], check=True,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    names = (re.sub(r"^\./", "", n).rstrip("/")
             for n in out.stdout.decode().split("\n"))
    return sorted(n for n in names if n and n != ".")


# Three kinds that pack, and one that only unpacks.
TWO_TARGETS = """[7z]
extension=7z
ident=0,377ABCAF271C
extract=bsdtar -x -f @ArcName </dev/null
add=7zz a -t7z -bd -bso0 -bsp0 -y -- @ArcName @FileName </dev/null
test=7zz t -bd -bso0 -bsp0 -- @ArcName </dev/null
[zip]
extension=zip
ident=0,504B0304
extract=bsdtar -x -f @ArcName </dev/null
add=zip -qry @ArcName @FileName </dev/null
test=unzip -tqq @ArcName
[tar]
extension=tar
extract=bsdtar -x -f @ArcName </dev/null
add=tar -cf @ArcName @FileName
[tar.gz]
extension=tar.gz
extract=bsdtar -x -f @ArcName </dev/null
"""


def with_extractor(archivers, section, command):
    """The archivers file's text with the extract command of `section`
    replaced."""
    start = archivers.index("[%s]\n" % section)
    end = archivers.find("\n[", start)
    end = len(archivers) if end < 0 else end
    body = re.sub(r"(?m)^extract=.*$", "extract=" + command,
                  archivers[start:end])
    return archivers[:start] + body + archivers[end:]


class NewSwitchesTest(ZavoCase):

    def write(self, rel, data):
        path = os.path.join(self.arc, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_raw(self, *params, cwd=None):
        """(exit code, standard output's lines, standard error's text)."""
        p = subprocess.run([os.path.join(self.prog, "zavo")] + list(params),
                           cwd=cwd or self.arc, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=300)
        return (p.returncode, p.stdout.decode("latin-1").split("\n")[:-1],
                p.stderr.decode("latin-1"))

    def test_target_chosen_by_name_for_every_depth(self):
        self.write_archivers(TWO_TARGETS)
        inner = tar_gz_bytes({"in.txt": b"inner\n"})
        cases = [([], "", "outer.7z"),
                 (["-t", "zip"], "", "outer.zip"),
                 (["/T:zip"], "", "outer.zip"),
                 ([], "Target zip\n", "outer.zip"),
                 (["--to", "tar"], "Target zip\n", "outer.tar")]
        for params, key, new in cases:
            shutil.rmtree(self.arc)
            self.write("outer.tar.gz", tar_gz_bytes(
                {"inner.tar.gz": inner, "a.txt": b"a\n"}))
            self.write_settings("Nested yes\n" + key)
            code, lines = self.zavo_lines(*params, "*.*")
            self.assertEqual(0, code, (params, lines))
            self.assertIn("[outer.tar.gz] -> [%s] done!" % new, lines)
            self.assertEqual([new],
                             sorted(os.listdir(self.arc)), params)
            # The nested run packed the inner archive with the same target.
            inner_new = "inner" + new[len("outer"):]
            self.assertEqual(["a.txt", inner_new],
                             members(os.path.join(self.arc, new)), params)
        # A name no section has, and a section that cannot pack, stop the
        # run before anything is converted.
        for params, message in (
                (["-t", "rar"], "unknown target [rar]: the sections of [%s] "
                 "are 7z, zip, tar, tar.gz"),
                (["--to", "tar.gz"], "target [tar.gz] can't pack: its section "
                 "in [%s] has no add command")):
            code, lines = self.zavo(*params, "*.*")
            self.assertEqual(
                (2, [message % os.path.join(self.prog, "archivers.ini"),
                     "exiting..."]), (code, lines))
            self.assertEqual(["outer.tar"], os.listdir(self.arc))

    def test_keep_puts_the_new_archive_beside_the_old_one(self):
        report = os.path.join(self.scratch, "r.jsonl")
        self.write_settings("KeepTime yes\nKillExist yes\n"
                            "FileList descript.ion\nReport %s\n" % report)
        a = self.write("a.zip", zip_bytes({"a.txt": b"alpha\n"}))
        b = self.write("b c.zip", zip_bytes({"b.txt": b"beta\n"}))
        # zip bytes under the target's name: its new name is its own.
        misnamed = self.write("misnamed.7z", zip_bytes({"m.txt": b"m\n"}))
        os.chmod(a, 0o640)
        os.utime(b, (1000000000, 1000000000))
        # A split zip: every volume stays, each with its entry.
        stage = os.path.join(self.scratch, "stage")
        os.makedirs(stage)
        with open(os.path.join(stage, "r.bin"), "wb") as f:
            f.write(os.urandom(150000))
        volumes = kind_makers.make_set("zip", self.arc, "set", stage, 64)
        self.assertGreater(len(volumes), 2)
        self.write("descript.ion", b"a.zip the first\r\n >more of it\r\n"
                   b"\"b c.zip\" the second\r\nmisnamed.7z the third\r\n"
                   b"set.z01 the set\r\n")
        old = {p: (read_bytes(p), os.stat(p).st_mode, os.stat(p).st_mtime_ns)
               for p in [a, b, misnamed] +
               [os.path.join(self.arc, v) for v in volumes]}

        code, lines = self.zavo_lines("--keep", "*.*")
        self.assertEqual(1, code)
        self.assertEqual(
            ["processing folder [%s]" % self.arc, "[a.zip] -> [a.7z] done!",
             "[b c.zip] -> [b c.7z] done!",
             "[misnamed.7z] -> [misnamed.7z] exists, not replaced!",
             "[set.zip] -> [set.7z] done!"], lines)
        # Each original exactly as it was, and its new archive beside it
        # with its bits and time.
        for p, before in old.items():
            st = os.stat(p)
            self.assertEqual(before, (read_bytes(p), st.st_mode,
                                      st.st_mtime_ns), p)
        self.assertEqual(["a.txt"], members(os.path.join(self.arc, "a.7z")))
        self.assertEqual(0o640, mode(os.path.join(self.arc, "a.7z")))
        self.assertEqual(1000000000, os.stat(
            os.path.join(self.arc, "b c.7z")).st_mtime)
        # Both names have the description.
        self.assertEqual(
            b"\"b c.7z\" the second\r\n\"b c.zip\" the second\r\n"
            b"a.7z the first\r\n >more of it\r\na.zip the first\r\n >more of it"
            b"\r\nmisnamed.7z the third\r\nset.7z the set\r\nset.z01 the set"
            b"\r\n",
            read_bytes(os.path.join(self.arc, "descript.ion")))
        records = [json.loads(l) for l in read_bytes(report).splitlines()]
        self.assertEqual(["kept", "kept", "left", "kept"],
                         [r["status"] for r in records[:-1]])
        self.assertEqual((0, 3, 1), tuple(records[-1][k] for k in
                                          ("converted", "kept", "left")))

    def test_quiet_runs_and_the_summary_over_nested_archives(self):
        self.write_settings("KeepTime yes\nNested yes\n")
        inner = zip_bytes({"in.txt": b"inner\n"})
        self.write("good.zip", zip_bytes({"g.txt": b"good\n"}))
        self.write("broken.zip", b"not a zip at all\n" * 10)
        self.write("outer.zip", zip_bytes({
            "inner.zip": inner, "bad.zip": b"not a zip either\n" * 10,
            "taken.zip": inner, "taken.7z": b"someone's file\n"}))
        copy = os.path.join(self.root, "copy")
        shutil.copytree(self.arc, copy)
        report = os.path.join(self.scratch, "r.jsonl")

        code, out, err = self.run_raw("--summary", "--report", report, "*.*")
        self.assertEqual(1, code)
        # One banner, the top run's; the nested runs' folder lines stay.
        self.assertEqual(BANNER, out[:3])
        self.assertEqual((1, 2), (out.count(TITLE), out.count("")))
        # The top folder's, and those of the work folders of good.zip,
        # outer.zip and of inner.zip and taken.zip inside it.
        self.assertEqual(5, sum(l.startswith("processing folder [")
                                for l in out))
        self.assertEqual(3, sum(l.endswith("] done!") for l in out), out)
        self.assertRegex(err, r"(?m)^summary: 2 converted, 1 failed, 0 left "
                              r"alone; \d+ bytes before, \d+ after; ")
        self.assertIn("\nnested archives: 1 converted, 1 failed, 1 left alone"
                      "\n", err)
        totals = json.loads(read_bytes(report).splitlines()[-1])
        self.assertEqual({"converted": 1, "failed": 1, "left": 1},
                         totals["nested"])
        code, view, _ = self.run_raw("--report-summary", report)
        self.assertIn("nested archives: 1 converted, 1 failed, 1 left; ", "\n".join(view))

        # Quiet: only what failed or was left, the nested runs' too; the
        # summary, and the failed archives' own messages, on standard error.
        shutil.rmtree(self.arc)
        os.rename(copy, self.arc)
        code, out, err = self.run_raw("-q", "/n", "*.*")
        self.assertEqual(1, code)
        self.assertEqual(3, len(out), out)
        self.assertEqual("extraction mistake on [%s/broken.zip]. next archive!"
                         % self.arc, out[0])
        self.assertRegex(out[1], r"^extraction mistake on \[%s/[0-9a-f]{8}\.tmp"
                                 r"/bad\.zip\]\. next archive!$" % self.arc)
        self.assertEqual("[taken.zip] -> [taken.7z] exists, not replaced!",
                         out[2])
        self.assertIn("[%s/broken.zip] zip extract:\n    " % self.arc, err)
        self.assertRegex(err, r"\nnested archives: 1 converted, 1 failed, 1 "
                              r"left alone\n$")
        self.assertEqual(["broken.zip", "good.7z", "outer.7z"],
                         sorted(os.listdir(self.arc)))
        self.assertEqual(["bad.zip", "inner.7z", "taken.7z", "taken.zip"],
                         members(os.path.join(self.arc, "outer.7z")))

    def test_status_line_fits_a_50_column_terminal(self):
        # A slow extractor: the terminal shrinks from 100 to 50 columns
        # while the first archive is unpacked.
        self.make_fake_archiver("slowx", 'sleep 0.6; exec bsdtar -x -f "$1"')
        with open(os.path.join(self.prog, "archivers.ini")) as f:
            self.write_archivers(with_extractor(
                f.read(), "zip", os.path.join(self.prog, "slowx") + " @ArcName"))
        names = ["first of the archives with a rather long name.zip",
                 "t\x1b]0;pwned\x07.zip",
                 "the last of the archives with a rather long name.zip"]
        for name in names:
            self.write(name, zip_bytes({"x.txt": b"x\n"}))
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))

        def take_terminal():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        p = subprocess.Popen([os.path.join(self.prog, "zavo"), "*.zip"],
                             cwd=self.arc, stdin=slave, stdout=subprocess.PIPE,
                             stderr=slave, preexec_fn=take_terminal)
        os.close(slave)
        terminal = b""
        resized_at = None
        while True:
            ready, _, _ = select.select([master], [], [], 60)
            if not ready:
                break
            try:
                data = os.read(master, 4096)
            except OSError:  # the other side is closed
                break
            if not data:
                break
            terminal += data
            if resized_at is None and b"0/3 archives" in terminal:
                resized_at = len(terminal)
                fcntl.ioctl(master, termios.TIOCSWINSZ,
                            struct.pack("HHHH", 24, 50, 0, 0))
        out = p.stdout.read()
        p.stdout.close()
        self.assertEqual(0, p.wait(timeout=60))
        os.close(master)
        self.assertEqual(3, out.count(b"] done!\n"))
        self.assertIsNotNone(resized_at)
        # No escape reaches the terminal; the name shows escaped.
        self.assertNotIn(b"\x1b", terminal)
        self.assertIn(b": t\\x1b]0;pwned\\x07.zip", terminal)
        text = terminal.decode()
        self.assertTrue(text.endswith("\r\n"))
        drawn = text[:-2].split("\r")
        # Wider than 50 before the resize, never after it (the first line
        # drawn once the first archive is done is surely after it).
        self.assertTrue(any(len(d) > 49 for d in drawn), drawn)
        after = drawn[[i for i, d in enumerate(drawn) if "1/3" in d][0]:]
        self.assertEqual([], [d for d in after if len(d) > 49
                              and not d.startswith("summary: ")])
        self.assertTrue(any(re.search(r": the last of.*\.\.\..*name\.zip", d)
                            for d in after), after)
        # Erased at the end: blanks, then the summary on a line of its own.
        self.assertEqual("", drawn[-2].strip())
        self.assertRegex(drawn[-1], r"^summary: 3 converted, ")

    def test_dry_run_predicts_what_the_run_does(self):
        self.write_settings("KeepTime yes\nKillExist yes\n")
        # a.tar.gz and a.zip both become a.7z: the first in the scan takes
        # the name; c.7z is someone else's file that KillExist replaces.
        self.write("a.tar.gz", tar_gz_bytes({"t.txt": b"t\n"}))
        self.write("a.zip", zip_bytes({"z.txt": b"z\n"}))
        self.write("b.zip", zip_bytes({"b.txt": b"b\n"}))
        self.write("c.zip", zip_bytes({"c.txt": b"c\n"}))
        self.write("c.7z", b"in the way\n")
        self.write("sub/b.tar.gz", tar_gz_bytes({"s.txt": b"s\n"}))
        self.write("sub/b.zip", zip_bytes({"s.txt": b"s\n"}))
        code, predicted, _ = self.run_raw("-r", "--dry-run", "*.*")
        self.assertEqual(0, code)
        predicted = predicted[3:]
        code, lines = self.zavo_lines("-r", "*.*")
        done = [l for l in lines if not l.startswith("processing folder")]
        self.assertEqual(len(predicted), len(done))
        self.assertEqual(2, sum(l.startswith("would leave") for l in predicted))
        for would, did in zip(predicted, done):
            m = re.match(r"would (convert|leave) \[(.*)\] \(.*\) -> \[(.*)\]",
                         would)
            ending = " done!" if m.group(1) == "convert" else \
                " exists, not replaced!"
            self.assertEqual("[%s] -> [%s]%s" % (os.path.basename(m.group(2)),
                                                 m.group(3), ending), did)
        self.assertEqual(1, code)

    def test_archivers_messages_under_their_archive_and_step(self):
        self.make_fake_archiver(
            "lockedx", "echo listing one.txt; "
            "echo 'secret.txt: Incorrect passphrase' >&2; exit 1")
        with open(os.path.join(self.prog, "archivers.ini")) as f:
            self.write_archivers(with_extractor(
                f.read(), "zip",
                os.path.join(self.prog, "lockedx") + " @ArcName"))
        secret = self.write("secret.zip", zip_bytes({"secret.txt": b"s\n"}))
        failed = "extraction mistake on [%s]. next archive!" % secret
        grouped = ("[%s] zip extract:\n    listing one.txt\n"
                   "    secret.txt: Incorrect passphrase\n" % secret)
        cases = [
            # In a pipe, as ever: on the archiver's own streams.
            ([], BANNER + ["processing folder [%s]" % self.arc,
                           "listing one.txt", failed],
             "secret.txt: Incorrect passphrase\n"),
            (["-v"], BANNER + ["processing folder [%s]" % self.arc, failed],
             grouped),
            # Quiet, the summary follows.
            (["-q"], [failed],
             re.escape(grouped) + r"summary: 0 converted, 1 failed, .*\n"),
        ]
        for params, out, err in cases:
            code, got_out, got_err = self.run_raw(*params, "*.zip")
            self.assertEqual((1, out), (code, got_out), params)
            if params == ["-q"]:
                self.assertRegex(got_err, "^%s$" % err)
            else:
                self.assertEqual(err, got_err, params)


if __name__ == "__main__":
    unittest.main()
