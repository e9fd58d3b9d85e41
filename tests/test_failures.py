"""End-to-end: failing archivers and hostile archives lose nothing."""

import os
import unittest

from zavo_e2e import SAMPLE_FILES, ZavoCase, read_tree


class FailureTest(ZavoCase):

    def use_archivers(self, extract, add="7z a -bd -bso0 -bsp0 -y @ArcName @FileName",
                      test="7z t -bd -bso0 -bsp0 @ArcName"):
        self.write_archivers(
            "[7z]\nextension=7z\nadd=%s\ntest=%s\n"
            "[zip]\nextension=zip\nextract=%s\n" % (add, test, extract))

    def snapshot(self):
        return read_tree(self.arc)

    def test_failing_steps_leave_the_archive_untouched(self):
        fail = self.make_fake_archiver("fail3", "exit 3")
        kill = self.make_fake_archiver("killed", "kill -9 $$")
        truncate = self.make_fake_archiver(
            "truncating", '7z a -bd -bso0 -bsp0 -y "$1" . && '
            'head -c 40 "$1" > "$1.cut" && mv "$1.cut" "$1"')
        cases = [
            ("extraction", dict(extract=fail + " @ArcName")),
            ("extraction", dict(extract=kill + " @ArcName")),
            ("packing", dict(extract="7z x -bd -bso0 -y @ArcName",
                             add=fail + " @ArcName")),
            ("packing", dict(extract="7z x -bd -bso0 -y @ArcName",
                             add=kill + " @ArcName")),
            ("testing", dict(extract="7z x -bd -bso0 -y @ArcName",
                             add=truncate + " @ArcName")),
            ("testing", dict(extract="7z x -bd -bso0 -y @ArcName",
                             test=kill + " @ArcName")),
        ]
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        self.archives.make("zip", os.path.join(self.arc, "b.zip"))
        before = self.snapshot()
        for step, archivers in cases:
            self.use_archivers(**archivers)
            code, lines = self.zavo_lines("*.zip")
            self.assertEqual(1, code, (step, archivers, lines))
            self.assertEqual(
                ["processing folder [%s]" % self.arc,
                 "%s mistake on [%s/a.zip]. next archive!" % (step, self.arc),
                 "%s mistake on [%s/b.zip]. next archive!" % (step, self.arc)],
                lines, archivers)
            self.assertEqual(before, self.snapshot(), archivers)

    def test_stop_on_error_ends_with_exit_code_2(self):
        self.write_settings("StopOnError yes\n")
        self.use_archivers(extract="false")
        self.archives.make("zip", os.path.join(self.arc, "a.zip"))
        self.archives.make("zip", os.path.join(self.arc, "b.zip"))
        before = self.snapshot()
        code, lines = self.zavo_lines("*.zip")
        self.assertEqual(2, code)
        self.assertEqual(["processing folder [%s]" % self.arc,
                          "extraction mistake on [%s/a.zip]." % self.arc,
                          "exiting..."], lines)
        self.assertEqual(before, self.snapshot())

    def test_a_broken_archive_is_reported_and_the_others_converted(self):
        with open(os.path.join(self.arc, "broken.zip"), "wb") as f:
            f.write(b"PK\x03\x04 this is no zip at all")
        self.archives.make("zip", os.path.join(self.arc, "good.zip"))
        code, lines = self.zavo_lines("*.zip")
        self.assertEqual(1, code)
        self.assertIn("extraction mistake on [%s/broken.zip]. next archive!" % self.arc,
                      lines)
        self.assertIn("[good.zip] -> [good.7z] done!", lines)
        self.assertTrue(os.path.exists(os.path.join(self.arc, "broken.zip")))

    def test_links_in_an_archive_lead_nowhere_outside(self):
        outside = os.path.join(self.root, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "secret.txt"), "w") as f:
            f.write("keep")
        with open(os.path.join(outside, "victim.nfo"), "w") as f:
            f.write("keep")
        stage = os.path.join(self.scratch, "links")
        os.makedirs(stage)
        os.symlink(outside, os.path.join(stage, "out"))
        os.symlink(os.path.join(outside, "victim.nfo"), os.path.join(stage, "file_id.nfo"))
        with open(os.path.join(stage, "plain.txt"), "w") as f:
            f.write("plain")
        os.system("cd '%s' && zip -qry '%s' ." % (stage, os.path.join(self.arc, "l.zip")))
        os.makedirs(os.path.join(self.root, "add"))
        with open(os.path.join(self.root, "add", "file_id.nfo"), "w") as f:
            f.write("added")
        self.write_settings("DeleteFile out/*.txt\nDeleteFile *.txt\n"
                            "AddFile %s/add/*.nfo\n" % self.root)
        code, lines = self.zavo_lines("l.zip")
        self.assertEqual(0, code, lines)
        self.assertEqual({"secret.txt": b"keep", "victim.nfo": b"keep"},
                         read_tree(outside))


if __name__ == "__main__":
    unittest.main()
