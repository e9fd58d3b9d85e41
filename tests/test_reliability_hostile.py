"""End-to-end: hostile archives (members that climb out, absolute names,
links to the outside, names a shell would run) and hostile settings (macros
without end, floods of text functions, huge lines, binary bytes). Nothing
outside the tree is read into an archive or changed, no command runs that
should not, and every original survives or is converted complete."""

import os
import re
import subprocess
import unittest

from fault_helpers import (SEVEN_Z, ReliabilityCase, archivers_text, make_zip,
                           member_files, with_folders)
from zavo_e2e import DEFAULT_ARCHIVERS


class HostileArchiveTest(ReliabilityCase):
    """With the default archivers file: it decides what the archivers do with
    such members."""

    settings = "KeepTime yes\n"

    def setUp(self):
        super().setUp()
        with open(DEFAULT_ARCHIVERS) as f:
            self.write_archivers(f.read())

    def regular_files(self, archive):
        """{name: bytes} of the regular files a converted archive holds, and
        the names of its links, unpacked without following any."""
        self.checks += 1
        into = os.path.join(self.scratch, "look%d" % self.checks)
        os.makedirs(into)
        subprocess.run(["7z", "x", "-bd", "-y", "-o" + into, archive],
                       check=True, stdout=subprocess.DEVNULL, timeout=60)
        files, links = {}, set()
        for folder, dirs, names in os.walk(into):
            for n in dirs + names:
                path = os.path.join(folder, n)
                rel = os.path.relpath(path, into)
                if os.path.islink(path):
                    links.add(rel)
                elif os.path.isfile(path):
                    with open(path, "rb") as f:
                        files[rel] = f.read()
        return files, links

    def assertNoOutsideData(self, archive):
        files, _ = self.regular_files(archive)
        for name, data in files.items():
            self.assertNotIn(b"outside", data, "%s packs %s" % (archive, name))
        return files

    def test_members_that_climb_out_or_name_absolute_paths(self):
        planted = os.path.join(self.outside, "planted.txt")
        contents = {"../up.txt": b"one up", "../../up2.txt": b"two up",
                    "sub/../../back.txt": b"back out", planted: b"absolute",
                    "/planted-at-root.txt": b"root", "fine.txt": b"fine"}
        data = make_zip(os.path.join(self.arc, "climb.zip"), contents)
        self.originals["climb.zip"] = (data, None)
        code, lines = self.run_zavo("climb.zip")
        self.assertIn(code, (0, 1), lines)
        self.assertFalse(os.path.exists("/planted-at-root.txt"))
        outcome = self.assertNothingLost()
        if outcome["climb.zip"] == "converted":
            # Names may lose their climbing parts; no member may be lost.
            files = self.assertNoOutsideData(os.path.join(self.arc, "climb.7z"))
            self.assertEqual(sorted(contents.values()), sorted(files.values()))

    def test_links_to_the_outside_with_add_and_delete_masks(self):
        # GNU tar unpacks links as they are stored, also those pointing out.
        stage = os.path.join(self.scratch, "links")
        os.makedirs(stage)
        os.symlink(self.outside, os.path.join(stage, "out"))
        os.symlink(os.path.join(self.outside, "secret.txt"),
                   os.path.join(stage, "secret.txt"))
        os.symlink(os.path.join(self.outside, "victim.nfo"),
                   os.path.join(stage, "file_id.nfo"))
        os.symlink("../../outside/secret.txt", os.path.join(stage, "climb.dat"))
        with open(os.path.join(stage, "plain.txt"), "wb") as f:
            f.write(b"plain")
        tar = os.path.join(self.arc, "links.tar")
        subprocess.run(["tar", "-cf", tar, "-C", stage, "."], check=True)
        with open(tar, "rb") as f:
            self.originals["links.tar"] = (f.read(), None)
        add = os.path.join(self.scratch, "add")
        os.makedirs(add)
        with open(os.path.join(add, "file_id.nfo"), "wb") as f:
            f.write(b"added")
        # Each mask meets a link: through one (out/), onto one (*.dat), and
        # a copy onto a link's name (file_id.nfo).
        self.write_settings("DeleteFile out/*.*\nDeleteFile out/folder/*.txt\n"
                            "DeleteFile *.dat\nAddFile %s/*.nfo\n" % add)
        code, lines = self.run_zavo("links.tar")
        self.assertEqual((0, "[links.tar] -> [links.7z] done!"),
                         (code, lines[-1]))
        self.assertEqual({"links.tar": "converted"},
                         self.assertNothingLost())
        files, links = self.regular_files(os.path.join(self.arc, "links.7z"))
        self.assertEqual({"plain.txt": b"plain", "file_id.nfo": b"added"}, files)
        # What stays of the links is links, never the data they point to.
        self.assertEqual({"out", "secret.txt"}, links)

    def test_links_in_the_tree_lead_nowhere_outside(self):
        # A linked folder is not scanned, a linked archive not converted,
        # and a final name that is a link is replaced as a link.
        outside_zip = os.path.join(self.outside, "folder", "far.zip")
        make_zip(outside_zip, member_files("far"))
        self.untouchable = self.outside_state()
        os.symlink(os.path.join(self.outside, "folder"),
                   os.path.join(self.arc, "linked"))
        os.symlink(outside_zip, os.path.join(self.arc, "near.zip"))
        os.symlink(os.path.join(self.outside, "victim.nfo"),
                   os.path.join(self.arc, "a.7z"))
        self.add_zip("a.zip")
        links = ("linked", "near.zip", "a.7z")
        code, lines = self.run_zavo("/r", "*.zip")
        self.assertEqual((1, ["processing folder [%s]" % self.arc,
                              "[a.zip] -> [a.7z] exists, not replaced!"]),
                         (code, lines))
        self.assertEqual({"a.zip": "kept"}, self.assertNothingLost(extra=links))
        self.write_settings("KillExist yes\n")
        code, lines = self.run_zavo("/r", "*.zip")
        self.assertEqual((0, "[a.zip] -> [a.7z] done!"), (code, lines[-1]))
        self.assertFalse(os.path.islink(os.path.join(self.arc, "a.7z")))
        self.assertEqual({"a.zip": "converted"},
                         self.assertNothingLost(extra=links[:2]))

    def test_names_a_shell_would_run(self):
        names = ["$(touch pwned).txt", "a;touch pwned;b", "`touch pwned`",
                 "new\nline.txt", "quote's \"both\".txt", "-rf", "*", "@FileName",
                 "@ArcName @@ @PAD{L|x|9|y}", "sub dir/&& touch pwned"]
        files = {n: n.encode() for n in names}
        for archive in ("plain.zip", "x$(touch pwned)\n;.zip"):
            self.originals[archive] = (
                make_zip(os.path.join(self.arc, archive), files), files)
        self.write_settings("Scan sh -c 'ls \"$1\" >/dev/null' scan @Folder\n"
                            "DeleteFile *.bak\n")
        code, lines = self.run_zavo("*.zip")
        self.assertEqual(0, code, lines)
        self.assertEqual({"plain.zip": "converted",
                          "x$(touch pwned)\n;.zip": "converted"},
                         self.assertNothingLost())
        for where in (self.arc, self.prog, self.root, self.scratch):
            self.assertFalse(os.path.exists(os.path.join(where, "pwned")), where)

    def test_templates_the_quoting_cannot_prove_are_refused_at_load(self):
        # A macro inside ${..} or a second shell's command string: a name
        # such as "';touch pwned;'" would otherwise run. Such a template is
        # named when it is read, and its command never runs.
        zip_extract = SEVEN_Z["extract"].replace("@ArcName", "\"${x:-'@ArcName'}\"")
        self.write_archivers(archivers_text(source={"extract": zip_extract}))
        self.write_settings("Scan sh -c 'ls @Folder >/dev/null'\n")
        hostile = "';touch pwned;'.zip"
        self.add_zip(hostile)
        p = self.start_zavo("*.zip")
        out = p.communicate(timeout=120)[0].decode("latin-1").split("\n")
        code, lines = p.returncode, out[3:-1]
        archivers = os.path.join(self.prog, "archivers.ini")
        settings = os.path.join(self.prog, "zavo.ctl")
        self.assertEqual(
            (1, ["refused command [Scan sh -c 'ls @Folder >/dev/null'] in [%s]"
                 % settings, "pause (3 seconds)...",
                 "refused command [zip/extract] in [%s]" % archivers,
                 "pause (3 seconds)...",
                 "processing folder [%s]" % self.arc,
                 "extraction mistake on [%s]. next archive!"
                 % os.path.join(self.arc, hostile)]),
            (code, lines))
        self.assertEqual({hostile: "kept"}, self.assertNothingLost())
        # The safe way to hand the folder to a second shell converts.
        self.write_archivers(archivers_text())
        self.write_settings("Scan sh -c 'ls \"$ZAVO_FOLDER\" >/dev/null'\n")
        code, lines = self.run_zavo("*.zip")
        self.assertEqual(0, code, lines)
        self.assertEqual({hostile: "converted"}, self.assertNothingLost())
        for where in (self.arc, self.prog, self.root, self.scratch):
            self.assertFalse(os.path.exists(os.path.join(where, "pwned")), where)


class HostileSettingsTest(ReliabilityCase):
    """Settings and archivers files that could make zavo loop, grow without
    bound or run a cut command. Every run must end soon, and a marker that
    only a wrongly run command would make must never appear."""

    settings = "KeepTime yes\n"

    def setUp(self):
        super().setUp()
        self.marker = os.path.join(self.scratch, "ran")
        self.add_zip("a.zip")

    def run_hostile(self, converted=True):
        """Runs zavo on a.zip; returns the numbers of the lines it refused.
        A scan command that would be cut is not run and fails the archive,
        which is then kept."""
        p = self.start_zavo("a.zip")
        out = p.communicate(timeout=60)[0].decode("latin-1")
        if converted:
            self.assertEqual(0, p.returncode, out[:2000])
            self.assertIn("[a.zip] -> [a.7z] done!\n", out)
        else:
            self.assertEqual(1, p.returncode, out[:2000])
            self.assertIn("scanning mistake on [%s/a.zip]. next archive!\n"
                          % self.arc, out)
        self.assertFalse(os.path.exists(self.marker), "a cut command ran")
        self.assertEqual({"a.zip": "converted" if converted else "kept"},
                         self.assertNothingLost())
        return [int(n) for n in re.findall(r"^wrong line \[#(\d+)\]", out, re.M)]

    def test_macros_that_grow_without_end_are_never_run(self):
        # Each definition doubles the value, until it would pass the longest
        # line; a line that uses it then must not be run cut.
        lines = ["@Define @A ab"] + ["@Define @A @A@A"] * 10 + [
            "Scan touch %s @A@A" % self.marker,
            # 60 calls, each padding to 65536 characters, are past the
            # longest line already as written out.
            "@Define @Z @PAD{R|x|65536|y}",
            "Scan touch %s %s" % (self.marker, "@Z" * 60),
            # Short enough for the settings, far too long as a command.
            "@Define @W @PAD{R|x|65536|y}@PAD{R|x|65536|y}",
            "Scan touch %s @W@W@W@W" % self.marker]
        self.write_settings("\n".join(lines) + "\n")
        # Line 1 is "Archives". The doublings past 255 characters are
        # refused (the value stays as it was), and so are the lines that
        # would be longer.
        self.assertEqual([9, 10, 11, 12, 13, 15],
                         self.run_hostile(converted=False))

    def test_floods_huge_lines_and_binary_bytes_in_the_settings(self):
        lines = ["Scan touch %s %s" % (self.marker, "@PAD{L|x|3|y}" * 10000),
                 "Scan touch %s %s" % (self.marker, "z" * (1 << 20)),
                 "@Define @Q " + "q" * (1 << 20),
                 "KeepTime yes"]
        binary = bytes(range(256)) * 4 + b"\0Scan touch " + \
            self.marker.encode() + b"\0\x01\r\r\n\xff\xfe"
        with open(os.path.join(self.prog, "zavo.ctl"), "wb") as f:
            f.write(b"Archives archivers.ini\r\n" +
                    "\n".join(lines).encode() + b"\n" + binary + b"\n")
        self.settings_changed()
        refused = self.run_hostile()
        self.assertEqual([2, 3, 4], refused[:3])

    def test_hostile_archivers_file_loses_no_line_and_runs_nothing_cut(self):
        path = os.path.join(self.prog, "archivers.ini")
        with open(path, "rb") as f:
            sane = f.read()
        marker = self.marker.encode()
        hostile = (b"[zip]\r\nadd=touch " + marker + b" " + b"x" * (1 << 20) +
                   b"\r\ntest=touch " + marker + b" " +
                   b"@PAD{L|x|3|y}" * 10000 + b"\r\n" + bytes(range(1, 256)) +
                   b"\0" + b"\xff" * 300 + b"\r\n[junk]\r\n" + b"\0" * 1000 +
                   b"\r\n")
        with open(path, "wb") as f:
            f.write(sane + hostile)
        code, lines = self.run_zavo("a.zip", timeout=60)
        self.assertIn(code, (0, 1, 2), lines[:20])
        self.assertFalse(os.path.exists(self.marker), "a cut command ran")
        with open(path, "rb") as f:
            after = f.read()

        def lines_of(data):
            data = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
            return {line.strip(b" \t") for line in data.split(b"\n")}
        # Written back or not, every line it had is still there whole (but
        # for blanks and tabs at its ends).
        missing = set(lines_of(sane + hostile)) - set(lines_of(after))
        self.assertEqual(set(), {m[:40] for m in missing})
        self.untouchable = self.outside_state()
        self.assertNothingLost()


if __name__ == "__main__":
    unittest.main()
