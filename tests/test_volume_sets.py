"""End-to-end, with the shipped archivers file: volume sets made by the real
packers (7zz -v, zip -s, arj -v) and by the tests' RAR writer, both RAR
namings, converted as one archive each in one run with jobs, beside sets
that cannot be read whole: a gap, a later volume alone, a link among the
volumes, an ARJ set cut short at its end or left with its first volume
alone (which arj would unpack "OK" in part), and a volume that changes
while it is read. The dry run tells each reason first."""

import hashlib
import json
import os
import shutil
import unittest

import kind_makers
from zavo_e2e import ZavoCase, read_bytes, read_tree

# 2001-02-03 04:05:06 UTC, for the volume that names a set; its other
# volumes get another time, which the new archive must not take.
STAMP = 981173106
OTHER = STAMP + 86400 * 40

# name: (kind, RAR's new naming, volumes taken away, volumes made links)
SETS = {
    "rarnew": ("rar", True, [], []),
    "rarold": ("rar", False, [], []),
    "zipset": ("zip", True, [], []),
    "sevset": ("7z", True, [], []),
    "arjset": ("arj", True, [], []),
    "gap": ("rar", True, [1], []),
    "lone": ("rar", True, [0], []),
    "half": ("zip", True, [-1], []),
    "sev2": ("7z", True, [0], []),
    "cut": ("arj", True, [-1], []),
    "issue": ("arj", True, [1, 2], []),
    "link": ("rar", True, [], [1]),
}
# What becomes of each set: its new archive, or the line that leaves it
# whole and the reason the dry run gives.
CONVERTED = {"rarnew": "rarnew.part1.rar", "rarold": "rarold.rar",
             "zipset": "zipset.zip", "sevset": "sevset.7z.001",
             "arjset": "arjset.arj"}
LEFT = {
    "gap": ("gap.part1.rar", "volume [gap.part2.rar] is missing"),
    "lone": ("lone.part2.rar", "volume [lone.part1.rar] is missing"),
    "half": ("half.z01", "volume [half.zip] is missing"),
    "sev2": ("sev2.7z.002", "volume [sev2.7z.001] is missing"),
    "cut": ("cut.arj", "[cut.a01] goes on in a volume not there"),
    "issue": ("issue.arj", "[issue.arj] goes on in a volume not there"),
    "link": ("link.part1.rar", "volume [link.part2.rar] is a link"),
    "chg": ("chg.fk1", "volume [chg.fk2] changed while it was read"),
}


class VolumeSetsTest(ZavoCase):
    settings = ("KeepTime yes\nVerify yes\nFileList descript.ion\n"
                "AnyExtension no\n")

    def make_sets(self):
        stage = os.path.join(self.scratch, "stage")
        self.files = {"r.bin": os.urandom(150000),
                      "sub/t.txt": b"text in a set\n" * 50}
        for rel, data in self.files.items():
            os.makedirs(os.path.dirname(os.path.join(stage, rel)),
                        exist_ok=True)
            with open(os.path.join(stage, rel), "wb") as f:
                f.write(data)
        self.volumes = {}
        for name, (kind, new_naming, away, links) in SETS.items():
            volumes = kind_makers.make_set(kind, self.arc, name, stage, 64,
                                           new_naming)
            self.assertGreater(len(volumes), 2, name)
            for i, volume in enumerate(volumes):
                t = STAMP if volume == CONVERTED.get(name) else OTHER
                os.utime(os.path.join(self.arc, volume), (t, t))
            for i in links:
                moved = os.path.join(self.scratch, volumes[i])
                shutil.move(os.path.join(self.arc, volumes[i]), moved)
                os.symlink(moved, os.path.join(self.arc, volumes[i]))
            for i in sorted(away, reverse=True):
                os.remove(os.path.join(self.arc, volumes[i]))
                del volumes[i]
            self.volumes[name] = volumes

    def add_changing_kind(self):
        # An extractor that reads its set and meanwhile a volume grows.
        script = self.make_fake_archiver(
            "fkx", "echo more >> '%s'\necho member > member.txt" %
            os.path.join(self.arc, "chg.fk2"))
        with open(os.path.join(self.prog, "archivers.ini"), "a") as f:
            f.write("\n[fk]\nextension=fk\nvolumes=*.fk{1..}\n"
                    "extract=%s @ArcName\n" % script)
        for n in ("chg.fk1", "chg.fk2"):
            with open(os.path.join(self.arc, n), "wb") as f:
                f.write(b"fake volume " + n.encode())
        self.volumes["chg"] = ["chg.fk1", "chg.fk2"]

    def test_sets_convert_whole_or_stay_whole(self):
        self.make_sets()
        self.add_changing_kind()
        with open(os.path.join(self.arc, "descript.ion"), "wb") as f:
            f.write(b"rarnew.part1.rar Game disks\r\n"
                    b"rarnew.part2.rar Game disks\r\n >disk two\r\n"
                    b"zipset.z01 split zip\r\ngap.part1.rar kept\r\n")
        before = {n: read_bytes(os.path.join(self.arc, n))
                  for n in os.listdir(self.arc)}

        # The volume that changes does so only while it is read.
        code, lines = self.zavo("--dry-run", "*.*")
        self.assertEqual(0, code, lines)
        self.assertEqual(sorted(
            ["would convert [%s/%s] (%s) -> [%s.7z]" % (
                self.arc, first, SETS.get(name, ("fk",))[0], name)
             for name, first in list(CONVERTED.items()) + [("chg", "chg.fk1")]]
            + ["would leave [%s/%s] (%s) volume set incomplete: %s" % (
                self.arc, first, SETS[name][0], why)
               for name, (first, why) in LEFT.items() if name != "chg"]),
            sorted(l for l in lines if l.startswith("would ")))

        report = os.path.join(self.scratch, "report.jsonl")
        code, lines = self.zavo_lines("-j", "2", "--report", report, "*.*")
        self.assertEqual(1, code, lines)
        self.assertEqual(sorted(
            ["processing folder [%s]" % self.arc] +
            ["[%s] -> [%s.7z] done!" % (first, name)
             for name, first in CONVERTED.items()] +
            ["[%s] volume set incomplete, left as it is!" % first
             for first, _ in LEFT.values()]), sorted(lines))

        # Each set became one archive holding the whole tree, with the time
        # of the volume that named it; every volume of it is gone.
        for name in CONVERTED:
            new = os.path.join(self.arc, name + ".7z")
            self.assertConverted(new, self.files)
            self.assertEqual(STAMP, int(os.stat(new).st_mtime), name)
        # The sets left whole are as they were, but for the growing volume.
        after = {n: read_bytes(os.path.join(self.arc, n))
                 for n in os.listdir(self.arc) if not n.endswith(".7z")}
        kept = {n: data for n, data in before.items()
                if not any(n in self.volumes[s] for s in CONVERTED)}
        kept["chg.fk2"] += b"more\n"
        del kept["descript.ion"]
        self.assertEqual(kept, {n: d for n, d in after.items()
                                if n != "descript.ion"})
        self.assertEqual(sorted(n + ".7z" for n in CONVERTED),
                         sorted(n for n in os.listdir(self.arc)
                                if n.endswith(".7z")))
        self.assertTrue(os.path.islink(os.path.join(self.arc,
                                                    "link.part2.rar")))
        # The set's entries became one, every description kept.
        self.assertEqual(b"gap.part1.rar kept\r\nrarnew.7z Game disks\r\n"
                         b" >disk two\r\nzipset.7z split zip\r\n",
                         after["descript.ion"])

        # The report: a set's old size and checksum are its volumes'.
        with open(report) as f:
            records = {os.path.basename(r["old"]): r
                       for r in map(json.loads, f) if r["type"] == "archive"}
        for name, first in CONVERTED.items():
            joined = b"".join(before[v] for v in self.volumes[name])
            self.assertEqual("converted", records[first]["status"])
            self.assertEqual(len(joined), records[first]["old_size"], name)
            self.assertEqual(hashlib.sha256(joined).hexdigest(),
                             records[first]["old_sha256"], name)
        for first, _ in LEFT.values():
            self.assertEqual(("left", "incomplete set"),
                             (records[first]["status"],
                              records[first]["reason"]), first)
        self.assertEqual(len(CONVERTED) + len(LEFT), len(records))


if __name__ == "__main__":
    unittest.main()
