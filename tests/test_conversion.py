"""End-to-end: the built program converts trees of real archives."""

import os
import unittest

from zavo_e2e import (SAMPLE_FILES, ZavoCase, mode, read_bytes, unpack_7z)


class ConversionTest(ZavoCase):

    def test_every_kind_becomes_7z_byte_for_byte(self):
        # A whole extension (tar.gz) is replaced as a whole: d.tar.gz -> d.7z.
        kinds = {"a.zip": "zip", "b.arj": "arj", "c.lzh": "lzh",
                 "d.tar.gz": "tar.gz", "e.tgz": "tar.gz", "f.tar.bz2": "tar.bz2",
                 "g.tar.xz": "tar.xz", "h.tar": "tar"}
        for name, kind in kinds.items():
            self.archives.make(kind, os.path.join(self.arc, name))
        self.archives.make("7z", os.path.join(self.arc, "target.7z"))
        target_before = read_bytes(os.path.join(self.arc, "target.7z"))

        code, lines = self.zavo_lines("*.*")
        self.assertEqual(0, code, lines)
        expected = ["processing folder [%s]" % self.arc]
        for name in sorted(kinds):
            new = name.split(".", 1)[0] + ".7z"
            expected.append("[%s] -> [%s] done!" % (name, new))
        self.assertEqual(expected, lines)

        self.assertEqual(target_before,
                         read_bytes(os.path.join(self.arc, "target.7z")))
        for name, kind in kinds.items():
            new = os.path.join(self.arc, name.split(".", 1)[0] + ".7z")
            self.assertFalse(os.path.exists(os.path.join(self.arc, name)))
            want = dict(SAMPLE_FILES)
            if kind in ("arj", "lzh"):
                # These archives were made without empty folders, and arj's
                # without dot-names too.
                want = {k: v for k, v in want.items() if v is not None and
                        not (kind == "arj" and k.startswith("."))}
            self.assertConverted(new, want)
        self.assertEqual([], [n for n in os.listdir(self.arc) if n.endswith(".tmp")])

    def test_dot_names_folders_and_empty_folders_survive(self):
        self.archives.make("zip", os.path.join(self.arc, "x.zip"))
        code, _ = self.zavo("x.zip")
        self.assertEqual(0, code)
        self.assertConverted(os.path.join(self.arc, "x.7z"), SAMPLE_FILES)

    def test_file_time_kept_unless_k(self):
        for name in ("keep.zip", "fresh.zip"):
            self.archives.make("zip", os.path.join(self.arc, name))
            os.utime(os.path.join(self.arc, name), ns=(0, 757382400123456789))
        self.assertEqual(0, self.zavo("keep.zip")[0])
        self.assertEqual(757382400123456789,
                         os.stat(os.path.join(self.arc, "keep.7z")).st_mtime_ns)
        self.assertEqual(0, self.zavo("/k", "fresh.zip")[0])
        self.assertNotEqual(757382400123456789,
                            os.stat(os.path.join(self.arc, "fresh.7z")).st_mtime_ns)

    def test_list_entries_follow_the_archive(self):
        self.archives.make("zip", os.path.join(self.arc, "My File.zip"))
        self.archives.make("arj", os.path.join(self.arc, "OLD.ARJ"))
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b'"My File.zip" first line\r\n > second\r\nold.arj dos name\r\n'
                    b"other.txt " + b"x" * 300 + b"\r\n")
        code, lines = self.zavo_lines("*.*")
        self.assertEqual(0, code, lines)
        with open(os.path.join(self.arc, "descript.ion"), "rb") as f:
            self.assertEqual(b'"My File.7z" first line\r\n > second\r\n'
                             b"OLD.7z dos name\r\nother.txt " + b"x" * 300 + b"\r\n",
                             f.read())

    def test_recursive_order_and_dot_folders(self):
        for rel in ("top.zip", "A/a.zip", "A/X/x.zip", "A/Y/y.zip", "B/b.zip",
                    ".old/skip.zip", "A/.git/skip.zip", "BACKUP.ZIP/inner.zip",
                    "A/0123abcd.tmp/left.zip"):
            self.archives.make("zip", os.path.join(self.arc, rel),
                               {"f.txt": rel.encode()})
        code, lines = self.zavo_lines("/r", "*.zip")
        self.assertEqual(0, code, lines)
        folders = [l for l in lines if l.startswith("processing folder")]
        self.assertEqual(["processing folder [%s]" % os.path.join(self.arc, f)
                          if f else "processing folder [%s]" % self.arc
                          for f in ("", "A", "A/X", "A/Y", "B", "BACKUP.ZIP")],
                         folders)
        self.assertTrue(os.path.exists(os.path.join(self.arc, ".old/skip.zip")))
        self.assertTrue(os.path.exists(os.path.join(self.arc, "A/.git/skip.zip")))
        self.assertTrue(os.path.isdir(os.path.join(self.arc, "BACKUP.ZIP")))
        # A work folder left by a killed run holds a copy, not the user's own.
        self.assertTrue(os.path.exists(os.path.join(self.arc, "A/0123abcd.tmp/left.zip")))
        self.assertTrue(os.path.exists(os.path.join(self.arc, "A/X/x.7z")))

        # Without /r only the top folder.
        self.archives.make("zip", os.path.join(self.arc, "B/again.zip"))
        self.assertEqual(0, self.zavo("*.zip")[0])
        self.assertTrue(os.path.exists(os.path.join(self.arc, "B/again.zip")))

    def test_nested_archives_are_converted_inside(self):
        inner = self.archives.make("zip", os.path.join(self.scratch, "inner.zip"),
                                   {"deep.txt": b"deep\n"})
        with open(inner, "rb") as f:
            inner_bytes = f.read()
        self.archives.make("zip", os.path.join(self.arc, "outer.zip"),
                           {"inner.zip": inner_bytes, "top.txt": b"top\n"})
        code, lines = self.zavo_lines("/n", "outer.zip")
        self.assertEqual(0, code, lines)
        got = unpack_7z(os.path.join(self.arc, "outer.7z"),
                        os.path.join(self.scratch, "outer"))
        self.assertEqual({"top.txt", "inner.7z"}, set(got))
        self.assertEqual({"deep.txt": b"deep\n"},
                         unpack_7z(os.path.join(self.scratch, "outer", "inner.7z"),
                                   os.path.join(self.scratch, "inner")))
        self.assertIn("[inner.zip] -> [inner.7z] done!", lines)

    def test_nested_runs_take_relative_paths_from_the_starting_folder(self):
        # A relative archivers file with a folder part, AddFile mask and Scan
        # program name the folder the run was started in, in nested runs
        # too: both archives get the added file and are scanned.
        start = os.path.join(self.scratch, "start")
        log = os.path.join(self.scratch, "scanned")
        for folder in ("conf", "add", "bin"):
            os.makedirs(os.path.join(start, folder))
        os.rename(os.path.join(self.prog, "archivers.ini"),
                  os.path.join(start, "conf", "archivers.ini"))
        with open(os.path.join(start, "add", "id.nfo"), "wb") as f:
            f.write(b"added")
        scanner = os.path.join(start, "bin", "scan")
        with open(scanner, "w") as f:
            f.write('#!/bin/sh\nls "$1" >> %s\n' % log)
        os.chmod(scanner, 0o755)
        self.write_settings("AddFile add/*.nfo\nScan bin/scan @Folder\n",
                            archives="conf/archivers.ini")
        inner = self.archives.make("zip", os.path.join(self.scratch, "in.zip"),
                                   {"deep.txt": b"deep\n"})
        self.archives.make("zip", os.path.join(self.arc, "outer.zip"),
                           {"inner.zip": read_bytes(inner), "top.txt": b"t"})
        code, lines = self.zavo_lines("/n", os.path.join(self.arc, "*.zip"),
                                      cwd=start)
        self.assertEqual(0, code, lines)
        got = unpack_7z(os.path.join(self.arc, "outer.7z"),
                        os.path.join(self.scratch, "outer"))
        self.assertEqual({"top.txt": b"t", "id.nfo": b"added"},
                         {k: v for k, v in got.items() if k != "inner.7z"})
        self.assertEqual({"deep.txt": b"deep\n", "id.nfo": b"added"},
                         unpack_7z(os.path.join(self.scratch, "outer",
                                                "inner.7z"),
                                   os.path.join(self.scratch, "inner")))
        with open(log) as f:
            scanned = f.read().split()
        self.assertEqual(2, scanned.count("deep.txt") + scanned.count("top.txt"))

    def test_hostile_names_are_never_run(self):
        names = ["$(touch pwned).zip", "a;touch pwned;.zip", "`touch pwned`.zip",
                 "it's \"quoted\".zip", "two  blanks.zip", "-dash.zip",
                 "new\nline.zip"]
        for name in names:
            self.archives.make("zip", os.path.join(self.arc, name),
                               {"n.txt": name.encode()})
        code, lines = self.zavo("*.zip")
        self.assertEqual(0, code, lines)
        self.assertFalse(os.path.exists(os.path.join(self.arc, "pwned")))
        self.assertFalse(os.path.exists(os.path.join(self.prog, "pwned")))
        for name in names:
            new = os.path.join(self.arc, name[:-4] + ".7z")
            self.assertFalse(os.path.exists(os.path.join(self.arc, name)), name)
            self.assertEqual({"n.txt": name.encode()},
                             unpack_7z(new, os.path.join(self.scratch, str(names.index(name)))))

    def test_read_only_and_hidden_archives(self):
        ro = self.archives.make("zip", os.path.join(self.arc, "ro.zip"))
        os.chmod(ro, 0o444)
        self.archives.make("zip", os.path.join(self.arc, ".hidden.zip"))
        code, lines = self.zavo_lines("*.zip")
        self.assertEqual(0, code, lines)
        self.assertIn("[.hidden.zip] -> [.hidden.7z] done!", lines)
        self.assertIn("[ro.zip] -> [ro.7z] done!", lines)
        self.assertTrue(os.path.exists(os.path.join(self.arc, "ro.7z")))
        # A read-only file is never deleted: the old archive stays as it was.
        self.assertEqual(0o444, mode(ro))

    def test_target_name_taken(self):
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        with open(os.path.join(self.arc, "a.7z"), "wb") as f:
            f.write(b"not mine")
        code, lines = self.zavo_lines("a.zip")
        self.assertEqual(1, code)
        self.assertEqual(["processing folder [%s]" % self.arc,
                          "[a.zip] -> [a.7z] exists, not replaced!"], lines)
        self.assertEqual(b"not mine", read_bytes(os.path.join(self.arc, "a.7z")))
        self.assertTrue(os.path.exists(os.path.join(self.arc, "a.zip")))

        self.write_settings("KillExist yes\n")
        self.assertEqual(0, self.zavo("a.zip")[0])
        self.assertFalse(os.path.exists(os.path.join(self.arc, "a.zip")))
        self.assertConverted(os.path.join(self.arc, "a.7z"), SAMPLE_FILES)

    def test_archive_recognised_by_bytes_under_a_wrong_name(self):
        # An lzh archive named .7z is recognised by its bytes; its final name
        # is its own, so only KillExist replaces it, by a rename over it.
        self.archives.make("lzh", os.path.join(self.arc, "odd.7z"))
        self.write_settings("KillExist yes\n")
        code, lines = self.zavo_lines("odd.7z")
        self.assertEqual(0, code, lines)
        self.assertEqual("[odd.7z] -> [odd.7z] done!", lines[-1])
        self.assertConverted(os.path.join(self.arc, "odd.7z"),
                             {k: v for k, v in SAMPLE_FILES.items() if v is not None})

    def test_no_match_prints_only_the_banner(self):
        code, lines = self.zavo("*.none")
        self.assertEqual((0, []), (code, lines))
        # A folder that is not there is named: a mistyped folder is not an
        # empty one.
        missing = os.path.join(self.arc, "missing")
        code, lines = self.zavo(os.path.join(missing, "*.*"))
        self.assertEqual(
            (1, ["can't read folder [%s]: No such file or directory" % missing]),
            (code, lines))


if __name__ == "__main__":
    unittest.main()
