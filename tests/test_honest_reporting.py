"""End-to-end: every archive left unconverted gets a line and exit code 1;
what the user asked for is read as asked; names are names."""

import os
import shutil
import subprocess
import unittest

from test_startup import USAGE
from zavo_e2e import ZavoCase, read_bytes, unpack_7z

NOBODY = 65534


class HonestReportingTest(ZavoCase):

    def zavo_as_nobody(self, *params, cwd=None):
        """Runs the program as nobody: root reads and writes anything."""
        p = subprocess.run(["setpriv", "--reuid=%d" % NOBODY,
                            "--regid=%d" % NOBODY, "--clear-groups",
                            os.path.join(self.prog, "zavo")] + list(params),
                           cwd=cwd or self.arc, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=300)
        lines = p.stdout.decode("latin-1").split("\n")[:-1]
        return p.returncode, lines[3:]

    def give_to_nobody(self, top):
        for folder, dirs, files in os.walk(top):
            os.chown(folder, NOBODY, NOBODY)
            for name in files:
                os.chown(os.path.join(folder, name), NOBODY, NOBODY)

    def members(self, archive):
        into = os.path.join(self.scratch, "m%d" % len(os.listdir(self.scratch)))
        return set(unpack_7z(archive, into))

    def test_scanners_that_did_not_scan_fail_the_archive(self):
        marker = self.make_fake_archiver(
            "marker", 'test -d "$1" && : > "$1/scanned"')
        self.make_fake_archiver("killer", "kill -9 $$")
        self.make_fake_archiver("verdict", "exit 3")
        not_executable = os.path.join(self.prog, "not_executable")
        shutil.copy(marker, not_executable)
        os.chmod(not_executable, 0o644)
        spaced = os.path.join(self.arc, "with blank")
        os.makedirs(spaced)
        p = self.prog
        failing = [
            "Scan %s/no-such-scanner @Folder\n" % p,
            "Scan %s/killer @Folder\n" % p,
            "Scan %s @Folder\n" % not_executable,
            # A macro inside a command substitution cannot be quoted. (The
            # folder itself is named through zavo's descriptor, a name
            # without blanks, so a text function over it can be.)
            "Scan %s/marker \"$(echo @Folder)\"\n" % p,
            # Its exit code says it could not scan.
            "Scan %s/verdict @Folder\nScanFailCodes 2, 3\n" % p,
        ]
        for scan in failing:
            for stop in (False, True):
                self.write_settings(scan + ("StopOnError yes\n" if stop else ""))
                archive = self.archives.make("zip", os.path.join(spaced, "a.zip"))
                before = read_bytes(archive)
                code, lines = self.zavo_lines("*.zip", cwd=spaced)
                message = "scanning mistake on [%s]." % archive
                if stop:
                    self.assertEqual(
                        (2, ["processing folder [%s]" % spaced, message,
                             "exiting..."]), (code, lines), scan)
                else:
                    self.assertEqual(
                        (1, ["processing folder [%s]" % spaced,
                             message + " next archive!"]), (code, lines), scan)
                self.assertEqual(["a.zip"], os.listdir(spaced), scan)
                self.assertEqual(before, read_bytes(archive))

        # A scanner's verdict is reported and does not fail the archive; a
        # command ending in a quoted "@Folder" keeps its quote, and a name
        # holding the macro's own name is scanned like any other.
        shutil.rmtree(spaced)
        folder = os.path.join(self.arc, "x@Folder")
        self.write_settings('Scan %s/marker "@Folder"\nScan %s/verdict @Folder\n'
                            % (p, p))
        self.archives.make("zip", os.path.join(folder, "b.zip"))
        code, lines = self.zavo("*.zip", cwd=folder)
        self.assertEqual(
            (0, ["processing folder [%s]" % folder,
                 "scanner exited with 3 on [%s/b.zip]" % folder,
                 "[b.zip] -> [b.7z] done!"]), (code, lines))
        self.assertIn("scanned", self.members(os.path.join(folder, "b.7z")))

    def test_names_holding_macro_names_and_wildcards_are_converted(self):
        names = ["mail@ArcName.zip", "@FileName.zip", "*.zip", "[x].zip",
                 "What?/a.zip", "star*dir/b.zip", "star*dir/[x]/c?.zip"]
        for name in names:
            self.archives.make("zip", os.path.join(self.arc, name))
        # A plain name the mask's folder part must not match as a pattern.
        self.archives.make("zip", os.path.join(self.root, "Whatx", "d.zip"))
        code, lines = self.zavo("/r", "*.zip")
        self.assertEqual(0, code, lines)
        for name in names:
            self.assertIn("[%s] -> [%s.7z] done!" % (
                os.path.basename(name), os.path.basename(name)[:-4]), lines)
            self.assertTrue(os.path.exists(
                os.path.join(self.arc, name[:-4] + ".7z")), name)
        # The folder part of a mask is a name, not a pattern.
        self.archives.make("zip", os.path.join(self.arc, "What?", "e.zip"))
        code, lines = self.zavo(os.path.join(self.arc, "What?", "e.*"),
                                cwd=self.root)
        self.assertEqual((0, ["processing folder [%s/What?]" % self.arc,
                              "[e.zip] -> [e.7z] done!"]), (code, lines))
        self.assertTrue(os.path.exists(os.path.join(self.root, "Whatx", "d.zip")))

    def test_add_file_that_cannot_be_read_fails_the_archive(self):
        add = os.path.join(self.root, "add")
        os.makedirs(add)
        for name in ("a.nfo", "b.nfo"):
            with open(os.path.join(add, name), "w") as f:
                f.write(name)
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        self.give_to_nobody(self.arc)
        # A mask that matches nothing adds nothing, and that is no failure.
        self.write_settings("AddFile %s/*.none\nAddFile %s/*.nfo\n" % (add, add))
        os.chmod(os.path.join(add, "b.nfo"), 0)
        code, lines = self.zavo_as_nobody("*.zip")
        self.assertEqual(
            (1, ["processing folder [%s]" % self.arc,
                 "adding mistake on [%s/a.zip]. next archive!" % self.arc]),
            (code, lines))
        self.assertEqual(["a.zip"], os.listdir(self.arc))
        os.chmod(os.path.join(add, "b.nfo"), 0o644)
        code, lines = self.zavo_as_nobody("*.zip")
        self.assertEqual((0, ["processing folder [%s]" % self.arc,
                              "[a.zip] -> [a.7z] done!"]), (code, lines))
        self.assertTrue({"a.nfo", "b.nfo"} <=
                        self.members(os.path.join(self.arc, "a.7z")))

    def test_an_archive_that_cannot_be_read_gets_a_line(self):
        for name in ("a.zip", "b.zip"):
            self.archives.make("zip", os.path.join(self.arc, name))
        self.give_to_nobody(self.arc)
        os.chmod(os.path.join(self.arc, "b.zip"), 0)
        self.assertEqual(
            (1, ["processing folder [%s]" % self.arc, "[a.zip] -> [a.7z] done!",
                 "extraction mistake on [%s/b.zip]. next archive!" % self.arc]),
            self.zavo_as_nobody("*.zip"))

    def test_archivers_file_lines_are_kept_whole(self):
        with open(os.path.join(self.prog, "archivers.ini")) as f:
            text = f.read()
        # An extraction command of 400 characters, its end still needed.
        filler = " ".join(["--no-same-owner"] * 24)
        text = text.replace(
            "extract=bsdtar -x --no-same-owner -p --passphrase zavo-no-passphrase"
            " -f @ArcName </dev/null",
            "extract=bsdtar -x %s -f @ArcName </dev/null" % filler)
        self.write_archivers(text)
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        code, lines = self.zavo_lines("*.zip")
        self.assertEqual((0, ["processing folder [%s]" % self.arc,
                              "[a.zip] -> [a.7z] done!"]), (code, lines))

    def test_the_command_line_is_read_as_written(self):
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        self.archives.make("zip", os.path.join(self.arc, "sub", "b.zip"))
        fatal = USAGE + ["", "exiting..."]
        # Switches after the mask, in either form and letter case.
        self.assertEqual(
            (0, ["processing folder [%s]" % self.arc, "[a.zip] -> [a.7z] done!",
                 "processing folder [%s/sub]" % self.arc,
                 "[b.zip] -> [b.7z] done!"]),
            self.zavo_lines("%s/*.zip" % self.arc, "-R", "/K"))
        # A switch is never the mask; a mistyped one is no file name.
        for params in (["/r"], ["-r", "-n"], ["-K"]):
            self.assertEqual((2, fatal), self.zavo(*params), params)
        for params in (["-x", "*.zip"], ["*.zip", "-x"], ["/r", "-", "*.zip"]):
            bad = [p for p in params if p.startswith("-")][0]
            self.assertEqual((2, ["unknown switch [%s]" % bad] + fatal),
                             self.zavo(*params), params)
        # The switches the other parts add are known wherever they stand.
        code, lines = self.zavo("*.none", "--dry-run", "--summary", "-r")
        self.assertEqual(0, code, lines)
        code, lines = self.zavo("*.none", "-h")
        self.assertEqual(0, code)
        self.assertEqual(USAGE, lines[:len(USAGE)])
        text = "\n".join(lines)
        for promise in ("-r, -n, -k", "exit codes: 0", "settings:",
                        os.path.join(self.prog, "zavo.ctl")):
            self.assertIn(promise, text)
        # Two masks are one mask the shell expanded.
        code, lines = self.zavo("*.none", "-r", "b.zip")
        self.assertEqual(2, code)
        self.assertIn("quote the mask", lines[0])
        # Nested runs get the switches wherever they stood.
        self.archives.make("zip", os.path.join(self.scratch, "in.zip"))
        inner = os.path.join(self.scratch, "in.zip")
        self.archives.make("zip", os.path.join(self.arc, "c.zip"),
                           {"in.zip": read_bytes(inner)})
        code, lines = self.zavo_lines("c.zip", "-n")
        self.assertEqual(0, code, lines)
        self.assertIn("in.7z", self.members(os.path.join(self.arc, "c.7z")))

    def test_an_archive_left_inside_counts_toward_exit_1(self):
        self.archives.make("zip", os.path.join(self.arc, "outer.zip"),
                           {"broken.zip": b"PK\x03\x04 no zip at all",
                            "a.txt": b"a"})
        code, lines = self.zavo_lines("/n", "outer.zip")
        self.assertEqual(1, code, lines)
        self.assertIn("[outer.zip] -> [outer.7z] done!", lines)
        self.assertTrue(any(l.startswith("extraction mistake on [")
                            and l.endswith("broken.zip]. next archive!")
                            for l in lines), lines)
        self.assertEqual({"broken.zip", "a.txt"},
                         self.members(os.path.join(self.arc, "outer.7z")))

    def test_unreadable_files_and_folders_are_named(self):
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        self.archives.make("zip", os.path.join(self.arc, "closed", "b.zip"))
        self.archives.make("zip", os.path.join(self.arc, "open", "c.zip"))
        self.give_to_nobody(self.arc)
        closed = os.path.join(self.arc, "closed")
        os.chmod(closed, 0o300)
        code, lines = self.zavo_as_nobody("/r", "*.zip")
        self.assertEqual(
            (1, ["processing folder [%s]" % self.arc, "[a.zip] -> [a.7z] done!",
                 "can't read folder [%s]: Permission denied" % closed,
                 "processing folder [%s/open]" % self.arc,
                 "[c.zip] -> [c.7z] done!"]), (code, lines))
        # The mask's own folder too.
        code, lines = self.zavo_as_nobody(os.path.join(closed, "*.zip"))
        self.assertEqual(
            (1, ["can't read folder [%s]: Permission denied" % closed]),
            (code, lines))
        os.chmod(closed, 0o755)

        archivers = os.path.join(self.prog, "archivers.ini")
        os.chmod(archivers, 0)
        self.assertEqual(
            (2, ["can't read archives file [%s]: Permission denied" % archivers,
                 "exiting..."]), self.zavo_as_nobody("/r", "*.zip"))
        self.assertTrue(os.path.exists(os.path.join(closed, "b.zip")))

    def test_what_a_conversion_cannot_clean_up_is_named(self):
        """A file DeleteFile matches that stays, and an old archive that
        stays beside its new one, are named and end the run 1."""
        nobody = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                  "--clear-groups", os.path.join(self.prog, "zavo")]
        # A folder the archive makes read-only: its matched file stays.
        stage = os.path.join(self.scratch, "stage")
        os.makedirs(os.path.join(stage, "locked"))
        for name in ("locked/ad.txt", "keep.txt"):
            with open(os.path.join(stage, name), "w") as f:
                f.write(name)
        os.chmod(os.path.join(stage, "locked"), 0o555)
        subprocess.run(["tar", "-cf", os.path.join(self.arc, "d.tar"), "."],
                       cwd=stage, check=True)
        os.chmod(os.path.join(stage, "locked"), 0o755)
        self.give_to_nobody(self.arc)
        self.write_settings("DeleteFile locked/*.txt\n")
        p = subprocess.run(nobody + ["d.tar"], cwd=self.arc,
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(1, p.returncode, p.stdout)
        self.assertIn("deleting mistake on [%s/d.tar]. next archive!"
                      % self.arc, p.stdout)
        self.assertTrue(any(l.startswith("deleting [%s/d.tar]: can't delete "
                                         "[locked/ad.txt]: " % self.arc)
                            for l in p.stdout.splitlines()), p.stdout)
        self.assertEqual(["d.tar"], os.listdir(self.arc))

        # An upload folder (sticky, open to all) where the old archive is
        # another user's: the new one stands, the old one stays beside it.
        upload = os.path.join(self.root, "upload")
        os.makedirs(upload)
        os.chmod(upload, 0o1777)
        self.archives.make("zip", os.path.join(upload, "a.zip"))
        self.write_settings("")
        p = subprocess.run(nobody + ["a.zip"], cwd=upload,
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(1, p.returncode, p.stdout + p.stderr)
        self.assertIn("[a.zip] -> [a.7z] done!", p.stdout)
        self.assertIn("can't remove old archive [%s/a.zip]: " % upload,
                      p.stderr)
        self.assertEqual(["a.7z", "a.zip"], sorted(os.listdir(upload)))
        self.assertIn("README", self.members(os.path.join(upload, "a.7z")))


if __name__ == "__main__":
    unittest.main()
