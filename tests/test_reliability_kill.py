"""End-to-end: zavo killed with SIGKILL at random moments of a run over many
archives, then run again. No archive is ever missing, a work folder is the
most a kill leaves, and the second run finishes the work."""

import os
import random
import shutil
import signal
import time
import unittest

from fault_helpers import ReliabilityCase, WORK_FOLDER, with_folders

LAYOUT = ["a%d.zip" % i for i in range(6)] + \
         ["sub1/b%d.zip" % i for i in range(4)] + \
         ["sub2/deep/c%d.zip" % i for i in range(4)]
ROUNDS = int(os.environ.get("ZAVO_KILL_ROUNDS", "6"))


class KillTest(ReliabilityCase):

    settings = "KeepTime yes\n"

    def lay_out(self):
        shutil.rmtree(self.arc)
        os.makedirs(self.arc)
        self.originals = {}
        for rel in LAYOUT:
            self.add_zip(rel)

    def kill_after(self, delay):
        """Starts a run, kills zavo alone after `delay` seconds, and waits
        for the archiver it may have left running to end on its own, as
        after a crash of zavo. Returns whether the run was still going."""
        p = self.start_zavo("/r", "*.zip")
        time.sleep(delay)
        running = p.poll() is None
        if running:
            os.kill(p.pid, signal.SIGKILL)
        # The pipe stays open while an orphaned archiver runs.
        p.communicate(timeout=120)
        return running

    def test_killed_runs_lose_nothing_and_a_second_run_finishes(self):
        self.lay_out()
        started = time.monotonic()
        code, lines = self.run_zavo("/r", "*.zip")
        whole_run = time.monotonic() - started
        self.assertEqual(0, code, lines)
        self.assertEqual(set(LAYOUT), set(self.assertNothingLost(
            must_be_converted=LAYOUT)))

        seed = int(os.environ.get("ZAVO_KILL_SEED", time.time_ns() % 100000))
        chance = random.Random(seed)
        kills = 0
        for round_number in range(ROUNDS):
            where = "seed %d, round %d" % (seed, round_number)
            self.lay_out()
            # Within the first seven tenths of a whole run: later runs meet
            # warm caches and may end sooner than the first one took.
            delay = chance.uniform(0.0, 0.7 * whole_run)
            kills += self.kill_after(delay)
            # Killed between putting the new archive in place and deleting
            # the old one, both stand complete; the second run must not
            # replace a file it did not make, and says so.
            both = {rel for rel in LAYOUT
                    if os.path.exists(os.path.join(self.arc, rel)) and
                    os.path.exists(os.path.join(self.arc, rel[:-4] + ".7z"))}
            finals = tuple(rel[:-4] + ".7z" for rel in both)
            self.assertNothingLost(work_folders_allowed=True, extra=finals)
            for rel in both:
                self.assertEqual(with_folders(self.originals[rel][1]),
                                 self.converted_members(
                                     os.path.join(self.arc, rel[:-4] + ".7z")),
                                 where)
            code, lines = self.run_zavo("/r", "*.zip")
            refused = ["[%s] -> [%s] exists, not replaced!"
                       % (os.path.basename(rel), os.path.basename(rel)[:-4] + ".7z")
                       for rel in sorted(both)]
            self.assertEqual(1 if both else 0, code, (where, lines))
            self.assertEqual(sorted(refused),
                             sorted(l for l in lines if "exists" in l), where)
            outcome = self.assertNothingLost(
                work_folders_allowed=True, extra=finals,
                must_be_converted=set(LAYOUT) - both)
            # What lies inside a leftover work folder (the unpacked files,
            # the folder holding the extractor's link) goes with it.
            leftovers = [os.path.join(folder, d)
                         for folder, dirs, _ in os.walk(self.arc) for d in dirs
                         if WORK_FOLDER.match(d) and not any(
                             WORK_FOLDER.match(part) for part in
                             os.path.relpath(folder, self.arc).split(os.sep))]
            self.assertLessEqual(len(leftovers), 1, (where, leftovers))
        # The random moments must have met running conversions.
        self.assertGreater(kills, ROUNDS // 2, "seed %d" % seed)


@unittest.skipUnless(shutil.which("strace"), "needs strace to stop zavo at a call")
class KillAtTheWorstMomentTest(ReliabilityCase):
    """zavo killed, through strace, at the calls right after the new archive
    has taken its final name: the moments a random kill rarely meets."""

    settings = "KeepTime yes\n"
    old_time = 757382400123456789

    def kill_at(self, call, when, state):
        """Runs zavo on a.zip under strace, which kills it (not the archivers:
        they are not traced) when it makes `call` the `when`th time."""
        p = self.start_zavo("a.zip", prefix=(
            "strace", "-o", "/dev/null", "-e", "trace=" + call,
            "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, when)))
        p.communicate(timeout=120)
        return self.assertNothingLost(work_folders_allowed=True,
                                      extra=("a.7z",) if state == "kept" else ())

    def old_archive_removal(self):
        """Which unlinkat call of a run removes the old archive: every
        removal is an unlinkat relative to a held folder."""
        self.add_zip("a.zip")
        log = os.path.join(self.scratch, "unlinks.log")
        p = self.start_zavo("a.zip", prefix=(
            "strace", "-o", log, "-e", "trace=unlinkat"))
        p.communicate(timeout=120)
        with open(log) as f:
            calls = [line for line in f if line.startswith("unlinkat(")]
        # The last one of that name: the extractor's link is named as the
        # archive too.
        return 1 + [i for i, c in enumerate(calls) if '"a.zip"' in c][-1]

    def test_killed_after_the_new_archive_took_its_name(self):
        removal = self.old_archive_removal()
        # The old archive was about to go; the clean-up of the work folder
        # had begun.
        for call, when, state in (("unlinkat", removal, "kept"),
                                  ("unlinkat", removal + 1, "converted")):
            shutil.rmtree(self.arc)
            os.makedirs(self.arc)
            self.add_zip("a.zip")
            os.utime(os.path.join(self.arc, "a.zip"), ns=(0, self.old_time))
            self.assertEqual({"a.zip": state}, self.kill_at(call, when, state), when)
            new = os.path.join(self.arc, "a.7z")
            self.assertEqual(with_folders(self.originals["a.zip"][1]),
                             self.converted_members(new), call)
            self.assertEqual(self.old_time, os.stat(new).st_mtime_ns, call)


if __name__ == "__main__":
    unittest.main()
