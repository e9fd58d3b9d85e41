"""End-to-end: volume sets made by the real packers (7zz -v, zip -s, arj -v)
and the tests' RAR writer (both namings) convert as one archive each, in one
run with jobs, beside sets that cannot be read whole and stay whole: a gap,
later volumes alone, a link among the volumes, an ARJ set cut short or left
with its first volume alone (which arj unpacks "OK" in part), a volume that
changes while it is read."""

import hashlib
import json
import os
import shutil
import unittest

import kind_makers
from zavo_e2e import ZavoCase, read_bytes, write_tree

STAMP = 981173106  # the volume that names a set; the others are a day older

# name: (kind, RAR's new naming, volumes taken away, volumes made links)
SETS = {"rarnew": ("rar", True, [], []), "rarold": ("rar", False, [], []),
        "zipset": ("zip", True, [], []), "sevset": ("7z", True, [], []),
        "arjset": ("arj", True, [], []), "gap": ("rar", True, [1], []),
        "lone": ("rar", True, [0], []), "half": ("zip", True, [-1], []),
        "sev2": ("7z", True, [0], []), "cut": ("arj", True, [-1], []),
        "issue": ("arj", True, [1, 2], []), "link": ("rar", True, [], [1]),
        "pipe": ("rar", True, [], [])}
CONVERTED = {"rarnew": "rarnew.part1.rar", "rarold": "rarold.rar",
             "zipset": "zipset.zip", "sevset": "sevset.7z.001",
             "arjset": "arjset.arj", "chg": "chg.fk1"}
# The sets left whole: the line's name, and the reason the dry run gives.
LEFT = {"gap": ("gap.part1.rar", "volume [gap.part2.rar] is missing"),
        "lone": ("lone.part2.rar", "volume [lone.part1.rar] is missing"),
        "half": ("half.z01", "volume [half.zip] is missing"),
        "sev2": ("sev2.7z.002", "volume [sev2.7z.001] is missing"),
        "cut": ("cut.arj", "[cut.a01] goes on in a volume not there"),
        "issue": ("issue.arj", "[issue.arj] goes on in a volume not there"),
        "link": ("link.part1.rar", "volume [link.part2.rar] is a link"),
        "pipe": ("pipe.part1.rar", "volume [pipe.part1.rar] is not a plain "
                 "file")}


class VolumeSetsTest(ZavoCase):
    settings = "KeepTime yes\nVerify yes\nFileList descript.ion\n"

    def make_sets(self):
        stage = os.path.join(self.scratch, "stage")
        self.files = {"r.bin": os.urandom(150000), "sub/t.txt": b"t\n" * 500}
        write_tree(stage, self.files)
        self.volumes = {}
        for name, (kind, new_naming, away, links) in SETS.items():
            volumes = kind_makers.make_set(kind, self.arc, name, stage, 64,
                                           new_naming)
            self.assertGreater(len(volumes), 2, name)
            for volume in volumes:
                t = STAMP - (volume != CONVERTED.get(name)) * 86400
                os.utime(os.path.join(self.arc, volume), (t, t))
            for i in links:
                moved = os.path.join(self.scratch, volumes[i])
                shutil.move(os.path.join(self.arc, volumes[i]), moved)
                os.symlink(moved, os.path.join(self.arc, volumes[i]))
            for i in sorted(away, reverse=True):
                os.remove(os.path.join(self.arc, volumes.pop(i)))
            self.volumes[name] = volumes
        # The file that names a set is a pipe: it cannot be read as one.
        os.remove(os.path.join(self.arc, "pipe.part1.rar"))
        os.mkfifo(os.path.join(self.arc, "pipe.part1.rar"))
        # A kind whose extractor reads its set while a volume grows.
        script = self.make_fake_archiver("fkx", "echo more >> '%s'\n"
                                         "echo m > m.txt" %
                                         os.path.join(self.arc, "chg.fk2"))
        with open(os.path.join(self.prog, "archivers.ini"), "a") as f:
            f.write("\n[fk]\nvolumes=*.fk{1..}\nextract=%s @ArcName\n" % script)
        write_tree(self.arc, {"chg.fk1": b"1", "chg.fk2": b"2"})
        self.volumes["chg"] = ["chg.fk1", "chg.fk2"]

    def files_in_arc(self):
        return {n: read_bytes(os.path.join(self.arc, n))
                for n in os.listdir(self.arc)
                if os.path.isfile(os.path.join(self.arc, n))}

    def test_sets_convert_whole_or_stay_whole(self):
        self.make_sets()
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"rarnew.part1.rar Game disks\r\n"
                    b"rarnew.part2.rar Game disks\r\n >disk two\r\n"
                    b"zipset.z01 split zip\r\ngap.part1.rar kept\r\n")
        before = self.files_in_arc()
        code, lines = self.zavo("--dry-run", "*.*")
        self.assertEqual(0, code, lines)
        kind = dict(((n, k[0]) for n, k in SETS.items()), chg="fk")
        self.assertEqual(sorted(
            ["would convert [%s/%s] (%s) -> [%s.7z]" % (self.arc, first,
                                                        kind[n], n)
             for n, first in CONVERTED.items()] +
            ["would leave [%s/%s] (%s) volume set incomplete: %s" % (
                self.arc, first, kind[n], why)
             for n, (first, why) in LEFT.items()]),
            sorted(l for l in lines if l.startswith("would ")))

        # The growing volume is found out only while it is read.
        converted = {n: v for n, v in CONVERTED.items() if n != "chg"}
        left = dict(LEFT, chg=("chg.fk1", ""))
        report = os.path.join(self.scratch, "report.jsonl")
        code, lines = self.zavo_lines("-j", "2", "--report", report, "*.*")
        self.assertEqual(1, code, lines)
        self.assertEqual(sorted(
            ["processing folder [%s]" % self.arc] +
            ["[%s] -> [%s.7z] done!" % (first, n)
             for n, first in converted.items()] +
            ["[%s] volume set incomplete, left as it is!" % first
             for first, _ in left.values()]), sorted(lines))
        # Each set is one archive of the whole tree with the time of the
        # volume that named it, and its volumes are gone; the sets left
        # whole are as they were, but for the volume that grew.
        for n in converted:
            new = os.path.join(self.arc, n + ".7z")
            self.assertConverted(new, self.files)
            self.assertEqual(STAMP, int(os.stat(new).st_mtime), n)
        expected = {v: before[v] for n in left for v in self.volumes[n]
                    if v in before}
        expected["chg.fk2"] += b"more\n"
        expected["descript.ion"] = (b"gap.part1.rar kept\r\nrarnew.7z Game "
                                    b"disks\r\n >disk two\r\nzipset.7z split "
                                    b"zip\r\n")
        self.assertEqual(expected, {v: d for v, d in self.files_in_arc().items()
                                    if not v.endswith(".7z")})
        self.assertTrue(os.path.islink(os.path.join(self.arc,
                                                    "link.part2.rar")))
        self.assertTrue(os.path.exists(os.path.join(self.arc,
                                                    "pipe.part1.rar")))
        # The report: a set's old size and checksum are its volumes' joined.
        with open(report) as f:
            records = {os.path.basename(r["old"]): r
                       for r in map(json.loads, f) if r["type"] == "archive"}
        self.assertEqual(len(converted) + len(left), len(records))
        for n, first in converted.items():
            joined = b"".join(before[v] for v in self.volumes[n])
            self.assertEqual(("converted", len(joined),
                              hashlib.sha256(joined).hexdigest()),
                             (records[first]["status"],
                              records[first]["old_size"],
                              records[first]["old_sha256"]))
            # No one volume holds a set: its listing checks the extraction.
            self.assertEqual("not checked" if n == "arjset" else "list",
                             records[first]["checks"]["extraction"], n)
        for first, _ in left.values():
            self.assertEqual(("left", "incomplete set"),
                             (records[first]["status"],
                              records[first]["reason"]))

    def test_a_naming_that_cannot_be_read_stops_the_run(self):
        with open(os.path.join(self.prog, "archivers.ini"), "a") as f:
            f.write("\n[bad]\nvolumes=x.{1..}\n")
        code, lines = self.zavo("*.*")
        self.assertEqual((2, "bad volumes in archives file [%s]: [bad/volumes]:"
                          " form [x.{1..}] needs one \"*\"" % os.path.join(
                              self.prog, "archivers.ini")), (code, lines[0]))


if __name__ == "__main__":
    unittest.main()
