"""End-to-end: what a user sees besides the conversion: --version, --help,
--dry-run, the status line on a terminal and the summary."""

import fcntl
import os
import pty
import re
import select
import shutil
import subprocess
import termios
import unittest

from zavo_e2e import SOURCE, VERSION, ZavoCase, write_tree


def snapshot(root):
    """Every entry below root (root included) with its bytes, mode and
    times, so that a run that changed nothing compares equal."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in [""] + dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            data = None
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    data = f.read()
            found[os.path.relpath(path, root)] = (
                data, st.st_mode, st.st_mtime_ns, st.st_ctime_ns)
    return found


class UserInterfaceTest(ZavoCase):

    def run_raw(self, *params, cwd=None):
        p = subprocess.run([os.path.join(self.prog, "zavo")] + list(params),
                           cwd=cwd or self.arc, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                           timeout=120)
        return p.returncode, p.stdout, p.stderr

    def run_on_terminal(self, *params):
        """Runs zavo with standard error on a pseudo-terminal that is its
        controlling terminal, standard output in a pipe."""
        master, slave = pty.openpty()

        def take_terminal():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        p = subprocess.Popen([os.path.join(self.prog, "zavo")] + list(params),
                             cwd=self.arc, stdin=slave, stdout=subprocess.PIPE,
                             stderr=slave, preexec_fn=take_terminal)
        os.close(slave)
        terminal = b""
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
        out = p.stdout.read()
        p.stdout.close()
        p.wait(timeout=60)
        os.close(master)
        return p.returncode, out, terminal

    def test_version_and_help(self):
        for params in (["--version"], ["-r", "--version", "*.zip"]):
            self.assertEqual((0, b"zavo %s\n" % VERSION.encode(), b""),
                             self.run_raw(*params))
        code, lines = self.zavo("--help")
        self.assertEqual(0, code)
        for wanted in ("       /r - recursive scan (with subfolders)",
                       "       -r, -n, -k - the same switches",
                       "       --dry-run - show what would be converted, change nothing",
                       "       --summary - print a summary on standard error at the end",
                       "       --version - print the version",
                       "exit codes: 0 all done, 1 some archive failed or was left as it was,",
                       "       %s/zavo.ctl" % self.prog):
            self.assertIn(wanted, lines)
        places = lines[lines.index("settings: the first of these files that exists") + 1:]
        keys = " ".join(places[3:])
        places = places[:3]
        # Every key the manual page describes is named.
        with open(os.path.join(SOURCE, "doc", "zavo.1.in")) as f:
            described = set(re.findall(r"^\.It Cm ([A-Z]\w+)", f.read(), re.M))
        self.assertEqual(described, set(keys.split()[1:-2]), keys)
        self.assertTrue(places[1].endswith("/.config/zavo/zavo.ctl")
                        or places[1].endswith("/zavo/zavo.ctl"))

    def test_manual_names_every_switch_and_output_line(self):
        with open(os.path.join(SOURCE, "doc", "zavo.1.in")) as f:
            manual = f.read()
        # The switches as the page writes them: "Fl \-shard" is --shard,
        # "Cm /j:" the Win32 form.
        written = {"-" + w.replace("\\-", "-")
                   for w in re.findall(r"\bFl ([\w\\-]+)", manual)}
        written |= set(re.findall(r"\bCm (/\w:?)", manual))
        code, lines = self.zavo("--help")
        self.assertEqual(0, code)
        switches = set()
        for line in lines:
            if line.startswith("       ") and " - " in line:
                for form in line.strip().split(" - ")[0].split(", "):
                    switches.add(re.match(r"[-/]+\w[\w-]*:?", form).group(0))
        self.assertTrue({"/r", "-j", "--shard", "--report-summary", "--keep",
                         "-q", "--help"} <= switches, switches)
        self.assertEqual(set(), switches - written, "not in the man page")
        # The fixed texts of the lines zavo prints: each is still in the
        # sources (a changed message must change its description too) and
        # in the page.
        sources = ""
        for folder, _, files in os.walk(os.path.join(SOURCE, "src")):
            for name in files:
                if name.endswith(".cc") and not name.endswith("_test.cc"):
                    with open(os.path.join(folder, name)) as f:
                        sources += f.read()
        page = re.sub(r"\\&", "", manual).replace("\\-", "-")
        texts = [
            # standard output
            "processing folder [", "] done!", "] exists, not replaced!",
            " mistake on [", "]. next archive!", "extraction", "nested",
            "deleting", "scanning", "adding", "packing", "testing",
            "verifying", "replacing", "scanner exited with ",
            "] volume set incomplete, left as it is!",
            "] nested too deep, left as it is!",
            "] too many nested archives, left as it is!",
            "] is being converted by another run", "can't read folder [",
            "can't save list [", "not entered", "would be removed",
            "can't remove: ", "would convert ", "would leave [",
            " exists, not replaced", "wrong line [#", "refused command [",
            "refused command [Scan ", "pause (3 seconds)...", "exiting...",
            "run interrupted on [", "config file ", "can't read config file [",
            "canot open archives file [", "can't read archives file [",
            "bad volumes in archives file [", "can't open report file [",
            "wrong shard [", "more than one file mask:", "unknown switch [",
            # standard error
            "not kept by the new archive of [", "volume set [",
            "can't lock folder [", "; converting without the lock",
            ", who may not write in it: the lock is passed over",
            "can't remove old archive [", "can't remove old volume [",
            "can't remove work folder [", "can't keep the file time of [",
            "can't read the file time of [", "can't write report file [",
            "can't share jobs (", "summary: ", "nested archives: ",
        ]
        self.assertEqual([], [t for t in texts if t not in sources],
                         "no longer printed")
        self.assertEqual([], [t for t in texts if t.strip("] ;,") not in page],
                         "not in the man page")

    def test_dry_run_changes_nothing(self):
        self.write_settings("KeepTime yes\nFileList descript.ion\nNested yes\n"
                            "AddFile %s/banner.txt\n" % self.prog)
        with open(os.path.join(self.prog, "banner.txt"), "w") as f:
            f.write("added\n")
        # An archivers file a run would normalise.
        with open(os.path.join(self.prog, "archivers.ini"), "rb") as f:
            archivers = f.read()
        with open(os.path.join(self.prog, "archivers.ini"), "wb") as f:
            f.write(archivers.replace(b"extension=zip", b"extension = zip", 1))
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        self.archives.make("tar.gz", os.path.join(self.arc, "sub", "b.tar.gz"))
        self.archives.make("7z", os.path.join(self.arc, "sub", "done.7z"))
        self.archives.make("zip", os.path.join(self.arc, "taken.zip"))
        write_tree(self.arc, {"taken.7z": b"in the way", "notes.txt": b"x\n",
                              "descript.ion": b"a.zip my archive\n",
                              "sub/descript.ion": b"b.tar.gz other\r\n"})
        before = snapshot(self.root)
        code, out, err = self.run_raw("-r", "--dry-run", "*.*")
        self.assertEqual((0, b""), (code, err))
        self.assertEqual(
            ["would convert [%s/a.zip] (zip) -> [a.7z]" % self.arc,
             "would leave [%s/taken.zip] (zip) -> [taken.7z] exists, not replaced"
             % self.arc,
             "would convert [%s/sub/b.tar.gz] (tar.gz) -> [b.7z]" % self.arc],
            out.decode().split("\n")[3:-1])
        self.assertEqual(before, snapshot(self.root))
        # The same tree converts for real: the dry run told the truth.
        code, lines = self.zavo_lines("-r", "*.*")
        self.assertEqual(1, code)
        self.assertIn("[a.zip] -> [a.7z] done!", lines)
        self.assertIn("[b.tar.gz] -> [b.7z] done!", lines)

    def test_status_line_on_a_terminal_and_summary(self):
        for i in range(3):
            self.archives.make("zip", os.path.join(self.arc, "a%d.zip" % i))
        write_tree(self.arc, {"broken.zip": b"not a zip"})
        copy = os.path.join(self.root, "copy")
        shutil.copytree(self.arc, copy)

        code, out, terminal = self.run_on_terminal("*.zip")
        self.assertEqual(1, code)
        text = terminal.decode()
        # Done of the total counted first, the current archive, the time
        # taken, then an estimate once an archive is done.
        self.assertIn("0/4 archives, 0 B of ", text)
        self.assertIn(", 0:00: a0.zip", text)
        self.assertRegex(text, r"1/4 archives, [0-9.]+ [KB]+ of [0-9.]+ [KB]+, "
                               r"\d:\d\d, about \d:\d\d left: a1.zip")
        # Erased at the end: blanks over the last status line, then the
        # summary on a line of its own.
        last = text.rindex("\r", 0, text.rindex("\rsummary: "))
        self.assertEqual("", text[last:text.rindex("\rsummary: ")].strip())
        self.assertRegex(text, r"\rsummary: 3 converted, 1 failed, 0 left alone; "
                               r"\d+ bytes before, \d+ after; \d+\.\d s\r\n$")

        # In a pipe: the same standard output, nothing on standard error
        # unless the summary is asked for.
        os.rename(self.arc, self.arc + ".terminal")
        os.rename(copy, self.arc)
        code, piped, err = self.run_raw("*.zip")
        self.assertEqual((1, out), (code, piped))
        # Only the archiver's own complaint about the broken archive.
        self.assertNotIn(b"archives", err)
        self.assertNotIn(b"summary", err)
        self.assertNotIn(b"\r", err)
        shutil.rmtree(self.arc)
        shutil.copytree(self.arc + ".terminal", self.arc)
        code, again, err = self.run_raw("--summary", "*.7z", "--summary")
        self.assertEqual(0, code)
        self.assertRegex(err.decode(), r"^summary: 0 converted, 0 failed, 0 left "
                                       r"alone; 0 bytes before, 0 after; \d+\.\d s\n$")

    def test_status_line_with_jobs(self):
        self.write_settings("KeepTime yes\nJobs 2\n")
        for i in range(3):
            self.archives.make("zip", os.path.join(self.arc, "a%d.zip" % i))
        code, out, terminal = self.run_on_terminal("*.zip")
        self.assertEqual(0, code)
        self.assertEqual(3, out.count(b"] done!\n"))
        text = terminal.decode()
        self.assertIn("0/3 archives, 0 B of ", text)
        self.assertRegex(text, r"2/3 archives, .*: a2.zip")
        self.assertRegex(text, r"\rsummary: 3 converted, 0 failed, 0 left alone; ")


if __name__ == "__main__":
    unittest.main()
