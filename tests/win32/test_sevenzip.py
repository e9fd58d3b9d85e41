"""zavo.exe under Wine with the default archivers file and settings, run by
the real 7-Zip 26 for Windows (ZAVO_7ZIP_DIR: the folder of 7z.exe and
7z.dll). The new archives are read back with Debian's 7zz."""

import os
import shutil
import subprocess
import unittest
import zipfile

from zavo_wine import (VERSION, ZavoTest, read, setUpModule,  # noqa: F401
                       tearDownModule, win, write_tree)

SEVEN_ZIP = os.environ.get("ZAVO_7ZIP_DIR", "")

FILES = {"hello.txt": b"hello\r\n", "sub/deep.txt": b"deep " * 3000,
         "sub/drop.txt": b"left out by a faulty packer"}


class SevenZipTest(ZavoTest):

    def setUp(self):
        if not os.path.isfile(os.path.join(SEVEN_ZIP, "7z.exe")):
            self.fail("ZAVO_7ZIP_DIR names no folder with 7z.exe: run "
                      "scripts/test-win32.sh, which installs it")
        super().setUp()
        # The default settings and archivers file, as the build puts them
        # beside zavo.exe.
        for name in ("zavo.ctl", "archivers.ini"):
            shutil.copy(os.path.join(os.path.dirname(os.environ["ZAVO_EXE"]),
                                     name), os.path.join(self.program, name))
        self.arc = os.path.join(self.scratch, "arc")
        os.makedirs(self.arc)
        with zipfile.ZipFile(os.path.join(self.arc, "a.zip"), "w") as z:
            for name, data in FILES.items():
                z.writestr(name, data)
            z.writestr("empty/", b"")
        self.bin = SEVEN_ZIP  # the folder WINEPATH names

    def unpack(self, archive):
        into = os.path.join(self.scratch, "check")
        os.makedirs(into)
        subprocess.run(["7zz", "x", "-bso0", "-bsp0", "-o" + into, archive],
                       check=True, stdin=subprocess.DEVNULL, timeout=60)
        found = {}
        for folder, dirs, files in os.walk(into):
            for d in dirs:
                found[os.path.relpath(os.path.join(folder, d), into)] = None
            for f in files:
                path = os.path.join(folder, f)
                found[os.path.relpath(path, into)] = read(path)
        return found

    def test_default_archivers_convert_and_verify(self):
        with open(os.path.join(self.program, "zavo.ctl"), "rb") as f:
            self.assertIn(b"\nVerify yes", f.read())
        code, out = self.zavo(win(self.arc) + "\\*.zip")
        self.assertLines(["", "Orlo's archive converter v" + VERSION, "",
                          "processing folder [%s]" % win(self.arc),
                          "[a.zip] -> [a.7z] done!"], out)
        self.assertExit(0, code)
        want = dict(FILES, sub=None, empty=None)
        self.assertEqual(want, self.unpack(os.path.join(self.arc, "a.7z")))
        self.assertEqual([], self.leftovers(self.arc))

    def test_a_packer_that_leaves_a_file_out_is_caught(self):
        path = os.path.join(self.program, "archivers.ini")
        with open(path, "rb") as f:
            text = f.read()
        spoiled = text.replace(b"-snl -- \"@ArcName\" *",
                               b"-snl -xr!drop.txt -- \"@ArcName\" *", 1)
        self.assertNotEqual(text, spoiled)
        with open(path, "wb") as f:
            f.write(spoiled)
        before = read(os.path.join(self.arc, "a.zip"))
        code, out = self.zavo(win(self.arc) + "\\*.zip")
        w = win(os.path.join(self.arc, "a.zip"))
        self.assertLines(["", "Orlo's archive converter v" + VERSION, "",
                          "processing folder [%s]" % win(self.arc),
                          "verifying [%s]: [sub\\drop.txt] is missing from "
                          "the new archive" % w,
                          "verifying mistake on [%s]. next archive!" % w], out)
        self.assertExit(1, code)
        self.assertEqual(before, read(os.path.join(self.arc, "a.zip")))
        self.assertFalse(os.path.exists(os.path.join(self.arc, "a.7z")))
        self.assertEqual([], self.leftovers(self.arc))

    def test_volume_sets_convert_whole_or_stay_whole(self):
        import kind_makers  # beside zavo_e2e, which zavo_wine puts on the path
        files = dict(FILES, **{"r.bin": os.urandom(150000)})
        write_tree(os.path.join(self.scratch, "stage"), files)
        for kind, name in (("rar", "r"), ("zip", "z"), ("7z", "s")):
            kind_makers.make_set(kind, self.arc, name,
                                 os.path.join(self.scratch, "stage"), 64)
        os.remove(os.path.join(self.arc, "s.7z.001"))
        code, out = self.zavo(win(self.arc) + "\\*.*")
        self.assertLines(["", "Orlo's archive converter v" + VERSION, "",
                          "processing folder [%s]" % win(self.arc),
                          "[a.zip] -> [a.7z] done!",
                          "[r.part1.rar] -> [r.7z] done!",
                          "[s.7z.002] volume set incomplete, left as it is!",
                          "[z.zip] -> [z.7z] done!"], out)
        self.assertExit(1, code)
        for name in ("r", "z"):
            self.assertEqual(dict(files, sub=None),
                             self.unpack(os.path.join(self.arc, name + ".7z")))
            shutil.rmtree(os.path.join(self.scratch, "check"))
        self.assertEqual(["a.7z", "r.7z", "s.7z.002", "s.7z.003", "z.7z"],
                         sorted(os.listdir(self.arc)))

if __name__ == "__main__":
    unittest.main()
