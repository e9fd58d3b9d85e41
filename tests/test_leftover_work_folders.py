"""End-to-end: work folders that a stopped run left behind. A run killed while
an archive is unpacked leaves its work folder; the next run removes it. A live
run's work folder is neither named nor touched by another run. A folder of
that name that zavo cannot prove its own (the user's, another user's, a copy
of a leftover) is named and kept, and a link of that name is not followed."""

import os
import shutil
import signal
import subprocess
import unittest

from fault_helpers import (NOBODY, ReliabilityCase, WORK_FOLDER,
                           archivers_text, process_group_alive, wait_for)


def work_folders(folder):
    return {n for n in os.listdir(folder) if WORK_FOLDER.match(n)
            and not os.path.islink(os.path.join(folder, n))}


class LeftoverWorkFolderTest(ReliabilityCase):

    def setUp(self):
        super().setUp()
        self.record = os.path.join(self.scratch, "extractor")
        self.release = os.path.join(self.scratch, "release")
        self.slow = os.path.join(self.scratch, "slow")
        # Unpacks with 7z; while the test asks for it, writes down its process
        # group and waits until the test releases it (30 s at most).
        script = self.make_fake_archiver(
            "slow", '7z x -bd -bso0 -bsp0 -y -- "$1" </dev/null || exit\n'
            '[ -e %s ] || exit 0\n'
            'read -r p c s pp g rest </proc/$$/stat\n'
            'echo $g > %s.tmp && mv %s.tmp %s\n'
            'i=0; while [ ! -e %s ] && [ $i -lt 300 ]; do sleep 0.1; '
            'i=$((i+1)); done' % (self.slow, self.record, self.record,
                                  self.record, self.release))
        self.write_archivers(archivers_text(source={
            "extract": script + " @ArcName"}))

    def use_slow_extractor(self, slow=True):
        for path in (self.record, self.release, self.slow):
            if os.path.exists(path):
                os.remove(path)
        if slow:
            with open(self.slow, "w"):
                pass

    def start_waiting_run(self, mask):
        """Starts zavo on `mask` and waits until its extractor waits."""
        p = self.start_zavo(mask)
        wait_for(lambda: os.path.exists(self.record), 30, "the extractor")
        with open(self.record) as f:
            return p, int(f.read())

    def leave_work_folder(self, rel):
        """Kills zavo (SIGKILL) while the archive `rel` is being unpacked;
        returns the work folder it leaves behind, unpacked copy and all."""
        self.add_zip(rel)
        folder = os.path.dirname(os.path.join(self.arc, rel))
        before = work_folders(folder)
        self.use_slow_extractor()
        p, group = self.start_waiting_run(rel)
        p.kill()
        os.killpg(group, signal.SIGKILL)
        p.communicate()
        wait_for(lambda: not process_group_alive(group), 5, "the extractor")
        self.use_slow_extractor(False)
        (left,) = work_folders(folder) - before
        left = os.path.join(folder, left)
        # The archive unpacks into x inside the private work folder.
        self.assertTrue(os.path.isfile(os.path.join(left, "x", "readme.txt")))
        return left

    def test_only_a_proven_leftover_is_removed(self):
        killed = self.leave_work_folder("a.zip")
        others = self.leave_work_folder("b.zip")
        linked = self.leave_work_folder("c.zip")
        os.lchown(others, NOBODY, NOBODY)
        # A copy keeps the mark, but the mark names the folder it was made on.
        copy = os.path.join(self.arc, "00c0ffee.tmp")
        subprocess.run(["cp", "-a", killed, copy], check=True)
        self.assertEqual(os.getxattr(killed, "user.zavo.work"),
                         os.getxattr(copy, "user.zavo.work"))
        own = os.path.join(self.arc, "0badf00d.tmp")
        os.makedirs(own)
        with open(os.path.join(own, "notes"), "wb") as f:
            f.write(b"the user's own\n")
        # A link of that name leads to a leftover outside the tree.
        target = os.path.join(self.scratch, "outside-leftover")
        os.rename(linked, target)
        os.symlink(target, os.path.join(self.arc, "0dead1ed.tmp"))
        named = [copy, others, own]
        line = "work folder [%s] left by a stopped run, %s"

        def state():
            return {p: sorted(os.listdir(p)) for p in named + [killed, target]
                    if os.path.isdir(p)}

        before = state()
        code, lines = self.run_zavo("--dry-run", "*.zip")
        self.assertEqual(0, code, lines)
        self.assertIn(line % (killed, "would be removed"), lines)
        for path in named:
            self.assertIn(line % (path, "not entered"), lines)
        self.assertEqual(before, state())

        code, lines = self.run_zavo("*.zip")
        self.assertEqual(0, code, lines)
        self.assertEqual(
            sorted([line % (killed, "removed")] +
                   [line % (p, "not entered") for p in named]),
            sorted(l for l in lines if l.startswith("work folder [")))
        self.assertFalse(os.path.lexists(killed))
        del before[killed]
        self.assertEqual(before, state())
        self.assertFalse(any("0dead1ed" in l for l in lines), lines)
        kept = {"0dead1ed.tmp"}
        for path in named:
            for folder, dirs, names in os.walk(path):
                kept.update(os.path.relpath(os.path.join(folder, n), self.arc)
                            for n in dirs + names)
        self.assertNothingLost(extra=kept,
                               must_be_converted={"a.zip", "b.zip", "c.zip"})

    def test_a_leftover_that_cannot_be_removed_ends_the_run_1(self):
        left = self.leave_work_folder("a.zip")
        stuck = os.path.join(left, "x", "readme.txt")
        if subprocess.run(["chattr", "+i", stuck],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no immutable files here")
        try:
            code, lines = self.run_zavo("*.zip")
        finally:
            subprocess.run(["chattr", "-i", stuck], check=True)
        self.assertEqual(1, code, lines)
        self.assertTrue(any(l.startswith(
            "work folder [%s] left by a stopped run, can't remove: " % left)
            for l in lines), lines)
        self.assertTrue(os.path.exists(stuck))
        code, lines = self.run_zavo("*.zip")
        self.assertEqual(0, code, lines)
        self.assertFalse(os.path.lexists(left))

    def test_only_the_shard_of_the_folder_acts_on_its_leftover(self):
        left = self.leave_work_folder("sub/a.zip")
        removed = "work folder [%s] left by a stopped run, removed" % left
        outcomes = []
        for shard in ("1/2", "2/2"):
            code, lines = self.run_zavo("/r", "--shard", shard, "*.nothing")
            self.assertEqual(0, code, lines)
            outcomes.append([l for l in lines if l.startswith("work folder")])
        self.assertEqual([[], [removed]], sorted(outcomes))
        self.assertFalse(os.path.lexists(left))

    def test_a_live_runs_work_folder_is_left_alone(self):
        self.add_zip("a.zip")
        self.use_slow_extractor()
        first, _ = self.start_waiting_run("*.zip")
        (live,) = work_folders(self.arc)
        inside = sorted(os.listdir(os.path.join(self.arc, live)))
        try:
            # No archive of these kinds here: the folder is not locked, and
            # the second run meets the first one's work folder, with jobs too.
            for params in (("*.tar",), ("-j", "2", "*.tar"),
                           ("--dry-run", "*.zip")):
                code, lines = self.run_zavo(*params)
                self.assertEqual(0, code, (params, lines))
                self.assertFalse(any(live in l for l in lines), lines)
                self.assertEqual(inside,
                                 sorted(os.listdir(os.path.join(self.arc,
                                                                live))))
        finally:
            with open(self.release, "w"):
                pass
        code, lines = self.finish(first)
        self.assertEqual(0, code, lines)
        self.assertEqual({"a.zip": "converted"}, self.assertNothingLost())


if __name__ == "__main__":
    unittest.main()
