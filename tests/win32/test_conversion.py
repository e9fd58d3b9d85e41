"""zavo.exe under Wine: start-up output, conversion of a tree with Windows
paths, description lists, file times, nested archives, failures and links."""

import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zavo_wine import (BANNER, HEX8, USAGE, VERSION, ZAVO_EXE, ZavoTest, line,
                       read, setUpModule, tearDownModule, unzpack, win,
                       write_tree, zpack)

TITLE = ["", "Orlo's archive converter v" + VERSION, ""]


class StartupTest(ZavoTest):

    def test_usage_exactly_with_crlf(self):
        code, out = self.zavo()
        self.assertEqual(BANNER + USAGE + b"\r\nexiting...\r\n", out)
        self.assertExit(2, code)
        # Five parameters are too many, valid switches or not.
        code, out = self.zavo("/r", "/n", "/k", "/r", "x.zpa")
        self.assertEqual(BANNER + USAGE + b"\r\nexiting...\r\n", out)

    def test_default_settings_load_cleanly(self):
        # The settings and archivers files the build puts beside zavo.exe.
        for name in ("zavo.ctl", "archivers.ini"):
            shutil.copy(os.path.join(os.path.dirname(ZAVO_EXE), name),
                        os.path.join(self.program, name))
        empty = os.path.join(self.scratch, "empty")
        os.makedirs(empty)
        code, out = self.zavo("/r", win(empty) + "\\*.*")
        self.assertEqual(BANNER, out)
        self.assertExit(0, code)


class ConversionTest(ZavoTest):

    A_FILES = {"hello.txt": b"hello\r\n", "sub": None,
               "sub\\deep.txt": b"deep " * 3000, "empty": None}

    def test_converts_a_tree_and_renames_list_entries(self):
        arc = os.path.join(self.scratch, "arc")
        old_target = zpack({"kept.txt": b"kept"})
        write_tree(arc, {
            "a.zpa": zpack(self.A_FILES),
            "c.one": b"single file content",
            "d.zpb": old_target,
            "notes.txt": b"not an archive",
            "descript.ion": b"a.zpa first archive\r\nc.one single file\r\n"
                            b" > continued\r\nnotes.txt plain text\r\n",
            "with blank/b.ZPA": zpack({"b.txt": b"b"}),
        })
        self.settings("FileList descript.ion\r\n")
        code, out = self.zavo("/r", win(arc) + "\\*.*")
        w = win(arc)
        self.assertLines(TITLE + [
            "processing folder [%s]" % w,
            "zpack x %s\\a.zpa: 2 files" % w,
            line("zpack a ", HEX8, ".zpb: 2 files"),
            line("zpack t ", w, "\\", HEX8, ".tmp\\x\\", HEX8, ".zpb: 2 files"),
            "[a.zpa] -> [a.zpb] done!",
            line("zpack a ", HEX8, ".zpb: 1 files"),
            line("zpack t ", w, "\\", HEX8, ".tmp\\x\\", HEX8, ".zpb: 1 files"),
            "[c.one] -> [c.zpb] done!",
            "processing folder [%s\\with blank]" % w,
            "zpack x %s\\with blank\\b.ZPA: 1 files" % w,
            line("zpack a ", HEX8, ".zpb: 1 files"),
            line("zpack t ", w, "\\with blank\\", HEX8, ".tmp\\x\\", HEX8,
                 ".zpb: 1 files"),
            "[b.ZPA] -> [b.zpb] done!",
        ], out)
        self.assertExit(0, code)

        self.assertEqual(self.A_FILES, unzpack(read(os.path.join(arc, "a.zpb"))))
        self.assertEqual({"content.txt": b"single file content"},
                         unzpack(read(os.path.join(arc, "c.zpb"))))
        self.assertEqual({"b.txt": b"b"},
                         unzpack(read(os.path.join(arc, "with blank", "b.zpb"))))
        self.assertEqual(old_target, read(os.path.join(arc, "d.zpb")))
        self.assertEqual(["a.zpb", "c.zpb", "d.zpb", "descript.ion",
                          "notes.txt", "with blank"], sorted(os.listdir(arc)))
        self.assertEqual(b"a.zpb first archive\r\nc.zpb single file\r\n"
                         b" > continued\r\nnotes.txt plain text\r\n",
                         read(os.path.join(arc, "descript.ion")))
        self.assertEqual([], self.leftovers(arc))

    def test_keeps_the_file_time_to_two_seconds(self):
        arc = os.path.join(self.scratch, "arc")
        write_tree(arc, {"kept.zpa": zpack({"k": b"k"}),
                         "fresh.zpa": zpack({"f": b"f"})})
        old = 1083827289.75  # an odd second and a fraction, in 2004
        for name in ("kept.zpa", "fresh.zpa"):
            os.utime(os.path.join(arc, name), (old, old))
        self.settings("KeepTime yes\r\n")

        code, _ = self.zavo(win(arc) + "\\kept.zpa")
        self.assertExit(0, code)
        self.assertEqual(old - 1.75,
                         os.stat(os.path.join(arc, "kept.zpb")).st_mtime)

        started = time.time()
        code, _ = self.zavo("/k", win(arc) + "\\fresh.zpa")
        self.assertExit(0, code)
        self.assertGreater(os.stat(os.path.join(arc, "fresh.zpb")).st_mtime,
                           started - 5)

    def test_nested_archives_are_converted_by_a_nested_run(self):
        arc = os.path.join(self.scratch, "nested arcs")
        write_tree(arc, {"outer.zpa": zpack({
            "inner.zpa": zpack({"x.txt": b"x"}),
            "plain.txt": b"p",
            "deeper": None,
            "deeper\\in2.zpa": zpack({"y": b"y"}),
        })})
        code, out = self.zavo("/n", win(arc) + "\\*.zpa")
        w = win(arc)
        # The nested run has no /r, so the archive one folder down stays.
        self.assertLines(TITLE + [
            "processing folder [%s]" % w,
            "zpack x %s\\outer.zpa: 3 files" % w,
            # Nested runs print no banner of their own.
            # Win32 holds folders by their paths: a nested run is given
            # the folder x of the work folder, where the archive unpacked.
            line("processing folder [", w, "\\", HEX8, ".tmp\\x]"),
            line("zpack x ", w, "\\", HEX8, ".tmp\\x\\inner.zpa: 1 files"),
            # The run nested in the nested one finds no archive.
            line("processing folder [", w, "\\", HEX8, ".tmp\\x\\", HEX8,
                 ".tmp\\x]"),
            line("zpack a ", HEX8, ".zpb: 1 files"),
            line("zpack t ", w, "\\", HEX8, ".tmp\\x\\", HEX8, ".tmp\\x\\",
                 HEX8, ".zpb: 1 files"),
            "[inner.zpa] -> [inner.zpb] done!",
            line("zpack a ", HEX8, ".zpb: 3 files"),
            line("zpack t ", w, "\\", HEX8, ".tmp\\x\\", HEX8,
                 ".zpb: 3 files"),
            "[outer.zpa] -> [outer.zpb] done!",
        ], out)
        self.assertExit(0, code)
        outer = unzpack(read(os.path.join(arc, "outer.zpb")))
        self.assertEqual({"x.txt": b"x"}, unzpack(outer.pop("inner.zpb")))
        self.assertEqual({"plain.txt": b"p", "deeper": None,
                          "deeper\\in2.zpa": zpack({"y": b"y"})}, outer)
        self.assertEqual([], self.leftovers(arc))


    def test_nested_runs_take_relative_paths_from_the_starting_folder(self):
        # A relative archivers file with a folder part and a relative
        # AddFile mask name the folder the run was started in, in the
        # nested runs too.
        start = os.path.join(self.scratch, "start")
        arc = os.path.join(self.scratch, "arc")
        write_tree(start, {"add/id.nfo": b"added"})
        os.makedirs(os.path.join(start, "conf"))
        shutil.move(os.path.join(self.program, "archivers.ini"),
                    os.path.join(start, "conf", "archivers.ini"))
        with open(os.path.join(self.program, "zavo.ctl"), "w",
                  newline="") as f:
            f.write("Archives conf\\archivers.ini\r\nAddFile add\\*.nfo\r\n")
        write_tree(arc, {"outer.zpa": zpack({
            "inner.zpa": zpack({"x.txt": b"x"}), "plain.txt": b"p"})})
        code, out = self.zavo("/n", win(arc) + "\\*.zpa", cwd=start)
        self.assertExit(0, code)
        outer = unzpack(read(os.path.join(arc, "outer.zpb")))
        self.assertEqual({"x.txt": b"x", "id.nfo": b"added"},
                         unzpack(outer.pop("inner.zpb")))
        self.assertEqual({"plain.txt": b"p", "id.nfo": b"added"}, outer)


class FailureTest(ZavoTest):

    def test_failed_archives_are_reported_and_left_alone(self):
        arc = os.path.join(self.scratch, "arc")
        write_tree(arc, {
            "broken.zpa": b"ZPK1 but damaged",
            "e.zpa": zpack({"e": b"e"}),
            "e.zpb": b"someone else's file",
            "fails.bad": b"x",
            "ro.zpa": zpack({"r": b"r"}),
        })
        os.chmod(os.path.join(arc, "ro.zpa"), 0o444)
        code, out = self.zavo(win(arc) + "\\*.*")
        w = win(arc)
        self.assertLines(TITLE + [
            "processing folder [%s]" % w,
            "zpack x %s\\broken.zpa: damaged archive" % w,
            "extraction mistake on [%s\\broken.zpa]. next archive!" % w,
            "zpack x %s\\e.zpa: 1 files" % w,
            line("zpack a ", HEX8, ".zpb: 1 files"),
            line("zpack t ", w, "\\", HEX8, ".tmp\\x\\", HEX8, ".zpb: 1 files"),
            "[e.zpa] -> [e.zpb] exists, not replaced!",
            "extraction mistake on [%s\\fails.bad]. next archive!" % w,
            "zpack x %s\\ro.zpa: 1 files" % w,
            line("zpack a ", HEX8, ".zpb: 1 files"),
            line("zpack t ", w, "\\", HEX8, ".tmp\\x\\", HEX8, ".zpb: 1 files"),
            "[ro.zpa] -> [ro.zpb] done!",
        ], out)
        self.assertExit(1, code)
        self.assertEqual(b"ZPK1 but damaged", read(os.path.join(arc, "broken.zpa")))
        self.assertEqual(b"someone else's file", read(os.path.join(arc, "e.zpb")))
        # A read-only archive is converted, and the old one is kept.
        self.assertEqual({"r": b"r"}, unzpack(read(os.path.join(arc, "ro.zpb"))))
        self.assertEqual({"r": b"r"}, unzpack(read(os.path.join(arc, "ro.zpa"))))
        self.assertEqual([], self.leftovers(arc))

    def test_stop_on_error_ends_the_run(self):
        arc = os.path.join(self.scratch, "arc")
        write_tree(arc, {"a.bad": b"x", "b.zpa": zpack({"b": b"b"})})
        self.settings("StopOnError yes\r\n")
        code, out = self.zavo(win(arc) + "\\*.*")
        self.assertLines(TITLE + [
            "processing folder [%s]" % win(arc),
            "extraction mistake on [%s\\a.bad]." % win(arc),
            "exiting...",
        ], out)
        self.assertExit(2, code)
        self.assertEqual(["a.bad", "b.zpa"], sorted(os.listdir(arc)))

    def test_linked_folders_are_not_entered(self):
        arc = os.path.join(self.scratch, "arc")
        outside = os.path.join(self.scratch, "outside")
        write_tree(outside, {"x.zpa": zpack({"x": b"x"})})
        write_tree(arc, {"y.zpa": zpack({"y": b"y"})})
        os.symlink(outside, os.path.join(arc, "link"))
        code, out = self.zavo("/r", win(arc) + "\\*.zpa")
        self.assertExit(0, code)
        self.assertNotIn(b"link", out)
        self.assertIn(b"[y.zpa] -> [y.zpb] done!", out)
        self.assertEqual(["x.zpa"], os.listdir(outside))


if __name__ == "__main__":
    unittest.main()
