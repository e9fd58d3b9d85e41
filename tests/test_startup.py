"""End-to-end: start-up of the built program with its settings files."""

import os
import subprocess
import time
import unittest

from zavo_e2e import ZavoCase

USAGE = ["usage: zavo [/r] [/n] [/k] [-j N] [--shard K/N] [--report FILE] "
         "<filemask>",
         "",
         "       /r - recursive scan (with subfolders)",
         "       /n - convert nested archives",
         "       /k - don't keep archive filetime",
         "       -j N - convert N archives at once (0: one per processor)",
         "       --shard K/N - convert only the folders of shard K of N",
         "       --report FILE - append a JSON line per archive to FILE"]


class StartupTest(ZavoCase):

    def test_usage(self):
        self.assertEqual((2, USAGE + ["", "exiting..."]), self.zavo())
        self.assertEqual((2, USAGE + ["", "exiting..."]),
                         self.zavo("/r", "/n", "/k", "/r", "/n"))
        code, lines = self.zavo("--help")
        self.assertEqual((0, USAGE), (code, lines[:len(USAGE)]))

    def test_an_expanded_glob_is_refused(self):
        for name in ("a.zip", "b.zip"):
            open(os.path.join(self.arc, name), "w").close()
        code, lines = self.zavo("/r", "a.zip", "b.zip")
        self.assertEqual(2, code)
        self.assertIn("quote the mask", lines[0])
        self.assertEqual("exiting...", lines[1])

    def test_settings_file_missing_and_looked_up(self):
        os.remove(os.path.join(self.prog, "zavo.ctl"))
        config = os.path.join(self.root, "config")
        code, lines = self.zavo("*.*", env={"XDG_CONFIG_HOME": config})
        self.assertEqual((2, "exiting..."), (code, lines[-1]))
        looked = ("config file [%s/zavo.ctl] or [%s/zavo/zavo.ctl] or ["
                  % (self.prog, config))
        self.assertEqual(looked, lines[0][:len(looked)])
        self.assertRegex(lines[0][len(looked):], r"^/.*/zavo/zavo\.ctl\] not found$")
        self.assertEqual(1, len(lines) - 1)

        # The user's settings, and a bare archivers name beside them; HOME
        # stands in for an unset XDG_CONFIG_HOME.
        os.makedirs(os.path.join(config, "zavo"))
        with open(os.path.join(config, "zavo", "zavo.ctl"), "w") as f:
            f.write("Archives mine.ini\n")
        with open(os.path.join(config, "zavo", "mine.ini"), "w") as f:
            f.write("[7z]\nextension=7z\n[zip]\nextension=zip\n"
                    "extract=echo extracting >&2; false\n")
        open(os.path.join(self.arc, "a.zip"), "w").close()
        failed = (1, ["processing folder [%s]" % self.arc,
                      "extraction mistake on [%s/a.zip]. next archive!" % self.arc])
        self.assertEqual(failed, self.zavo("*.zip", env={"XDG_CONFIG_HOME": config}))
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        os.rename(config, os.path.join(home, ".config"))
        self.assertEqual(failed, self.zavo("*.zip", env={"XDG_CONFIG_HOME": "",
                                                          "HOME": home}))

    def test_settings_file_unreadable(self):
        settings = os.path.join(self.prog, "zavo.ctl")
        os.chmod(settings, 0)
        if os.access(settings, os.R_OK):
            # Root reads anything: run as nobody instead.
            os.chmod(self.arc, 0o777)
            code, lines = self.zavo_as_nobody("*.*")
        else:
            code, lines = self.zavo("*.*")
        self.assertEqual((2, ["can't read config file [%s]: Permission denied"
                              % settings, "exiting..."]),
                         (code, lines))

    def zavo_as_nobody(self, *params):
        p = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534",
                            "--clear-groups", os.path.join(self.prog, "zavo")]
                           + list(params), cwd=self.arc, stdout=subprocess.PIPE,
                           timeout=60)
        lines = p.stdout.decode("latin-1").split("\n")[:-1]
        return p.returncode, lines[3:]

    def test_bad_lines_warn_and_pause(self):
        settings = os.path.join(self.prog, "zavo.ctl")
        with open(settings, "w") as f:
            f.write("Archives archivers.ini\r\n; comment\r\nRecurse=yes\r\n\r\n"
                    "@Define X\r\nRecurseYes\r\nKeepTime yes\r\n")
        started = time.monotonic()
        code, lines = self.zavo("*.none")
        self.assertGreaterEqual(time.monotonic() - started, 2.9)
        self.assertEqual(0, code)
        self.assertEqual(["wrong line [#3] in [%s]" % settings,
                          "wrong line [#6] in [%s]" % settings,
                          "pause (3 seconds)..."], lines)

    def test_archivers_file_missing(self):
        self.write_settings("", archives="nowhere.ini")
        self.assertEqual(
            (2, ["canot open archives file [%s/nowhere.ini]" % self.prog,
                 "exiting..."]), self.zavo("*.*"))
        self.write_settings("")
        with open(os.path.join(self.prog, "zavo.ctl"), "w") as f:
            f.write("KeepTime yes\n")
        self.assertEqual(
            (2, ["canot open archives file [%s/]" % self.prog, "exiting..."]),
            self.zavo("*.*"))

    def test_archivers_file_is_normalised(self):
        path = os.path.join(self.prog, "archivers.ini")
        with open(path, "w") as f:
            f.write("[7z]\n extension = 7z \n; keep this comment\n\n"
                    "add = 7z a @ArcName @FileName\nextension=7z\n"
                    "[zip]\nextension=zip\n")
        os.chmod(path, 0o640)
        self.assertEqual(0, self.zavo("*.none")[0])
        # Written back with the line end it was read with: LF stays LF.
        normalised = (b"[7z]\nextension=7z\n; keep this comment\n\n"
                      b"add=7z a @ArcName @FileName\n[zip]\nextension=zip\n")
        with open(path, "rb") as f:
            self.assertEqual(normalised, f.read())
        self.assertEqual(0o640, os.stat(path).st_mode & 0o777)
        with open(path, "wb") as f:
            f.write(b"[7z]\r\n extension = 7z\r\n")
        self.assertEqual(0, self.zavo("*.none")[0])
        with open(path, "rb") as f:
            self.assertEqual(b"[7z]\r\nextension=7z\r\n", f.read())

        # A read-only file is left as it is, also for root, without a word.
        with open(path, "wb") as f:
            f.write(b"[7z]\n extension = 7z\n")
        os.chmod(path, 0o444)
        self.assertEqual((0, []), self.zavo("*.none"))
        with open(path, "rb") as f:
            self.assertEqual(b"[7z]\n extension = 7z\n", f.read())
        # So is a link: the file it points to is someone else's.
        os.chmod(path, 0o644)
        os.rename(path, path + ".real")
        os.symlink("archivers.ini.real", path)
        self.assertEqual((0, []), self.zavo("*.none"))
        self.assertTrue(os.path.islink(path))
        with open(path, "rb") as f:
            self.assertEqual(b"[7z]\n extension = 7z\n", f.read())

    def test_archivers_file_that_would_lose_text_is_left_alone(self):
        path = os.path.join(self.prog, "archivers.ini")
        text = b"[7z]\nextension = 7z\nadd=7z a x=y @ArcName\n[zip] trailing\n"
        with open(path, "wb") as f:
            f.write(text)
        self.assertEqual(0, self.zavo("*.none")[0])
        with open(path, "rb") as f:
            self.assertEqual(text, f.read())

    def test_settings_found_beside_the_program_from_anywhere(self):
        other = os.path.join(self.root, "elsewhere")
        os.makedirs(other)
        os.symlink(os.path.join(self.prog, "zavo"), os.path.join(other, "zavo"))
        p = subprocess.run([os.path.join(other, "zavo"), "*.none"], cwd=other,
                           stdout=subprocess.PIPE, timeout=60)
        self.assertEqual(0, p.returncode, p.stdout)


if __name__ == "__main__":
    unittest.main()
