"""End-to-end: jobs, shards and folder locks. A run of two jobs must be a
run of one in everything it leaves and says; shards split a tree with no
overlap; two runs never convert in one folder together."""

import os
import re
import subprocess
import time
import unittest

from zavo_e2e import ZavoCase, read_tree


class ParallelTest(ZavoCase):

    settings = "KeepTime yes\nFileList descript.ion\nRecurse yes\nNested yes\n"

    def make_tree(self, top):
        """Several folders with lists, a failing archive, a nested archive
        and a file that is no archive."""
        inner = self.archives.make("zip", os.path.join(self.scratch, "in.zip"),
                                   {"inner.txt": b"inner\n"})
        with open(inner, "rb") as f:
            inner_bytes = f.read()
        for folder in ("", "one", "one/deep", "two"):
            path = os.path.join(top, folder)
            for i in range(3):
                self.archives.make("zip", os.path.join(path, "a%d.zip" % i),
                                   {"f%d.txt" % i: b"x" * (i + 1)})
            with open(os.path.join(path, "descript.ion"), "wb") as f:
                f.write(b"a0.zip first\r\na2.zip third\r\n >more\r\n")
            with open(os.path.join(path, "notes.txt"), "wb") as f:
                f.write(b"not an archive\n")
        self.archives.make("tar", os.path.join(top, "one", "nest.tar"),
                           {"in.zip": inner_bytes, "plain.txt": b"p\n"})
        with open(os.path.join(top, "one", "broken.zip"), "wb") as f:
            f.write(b"PK\3\4 this is no zip at all")
        for folder, dirs, files in os.walk(top):
            for name in files:
                os.utime(os.path.join(folder, name), (1000000000, 1000000000))

    def run_tree(self, top, *params):
        env = dict(os.environ)
        env.pop("COMSPEC", None)
        p = subprocess.run([os.path.join(self.prog, "zavo")] + list(params) +
                           [os.path.join(top, "*.*")], cwd=self.arc, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=300)
        times = {}
        for folder, dirs, files in os.walk(top):
            for name in files:
                path = os.path.join(folder, name)
                # A rewritten list has the time it was written.
                if not name.endswith(".ion"):
                    times[os.path.relpath(path, top)] = os.stat(path).st_mtime_ns
        # The trees' own names differ, and so do the drawn names of the
        # work folders; nothing else may.
        def same(text):
            text = text.replace(top.encode(), b"TOP")
            return re.sub(rb"[0-9a-f]{8}\.tmp", b"WORK.tmp", text)
        return p.returncode, same(p.stdout), same(p.stderr), times

    maxDiff = None

    def compare_serial_and_jobs(self, extra_settings):
        self.write_settings(self.settings + extra_settings)
        serial = os.path.join(self.arc, "s")
        jobs = os.path.join(self.arc, "j")
        self.make_tree(serial)
        self.make_tree(jobs)
        one = self.run_tree(serial, "-j", "1")
        two = self.run_tree(jobs, "-j", "2")
        self.assertEqual(one[0], two[0])
        self.assertEqual(one[1].decode("latin-1"), two[1].decode("latin-1"))
        self.assertEqual(one[2].decode("latin-1"), two[2].decode("latin-1"))
        self.assertEqual(one[3], two[3])
        self.assertEqual(read_tree(serial).keys(), read_tree(jobs).keys())
        for rel, data in read_tree(serial).items():
            if rel.endswith(".ion"):
                self.assertEqual(data, read_tree(jobs)[rel], rel)
        return one

    def test_two_jobs_do_what_one_does(self):
        code, out, err, times = self.compare_serial_and_jobs("")
        self.assertEqual(1, code)
        text = out.decode("latin-1")
        self.assertIn("[nest.tar] -> [nest.7z] done!", text)
        self.assertIn("extraction mistake on [TOP/one/broken.zip]. next archive!",
                      text)
        self.assertEqual(4, len(re.findall(
            r"^processing folder \[TOP(/[a-z/]+)?\]$", text, re.M)))
        self.assertEqual(14, text.count("done!"))  # one nested
        self.assertTrue(all(t == 1000000000 * 10**9 for rel, t in times.items()
                            if rel.endswith(".7z")))

    def test_two_jobs_stop_where_one_stops(self):
        code, out, err, times = self.compare_serial_and_jobs("StopOnError yes\n")
        self.assertEqual(2, code)
        text = out.decode("latin-1")
        self.assertTrue(text.endswith(
            "extraction mistake on [TOP/one/broken.zip].\nexiting...\n"), text)
        # Nothing after the failing archive was put in place, and no work
        # folder is left behind.
        self.assertIn("one/deep/a0.zip", times)
        # The lists of the folder it stopped in follow what was converted.
        with open(os.path.join(self.arc, "j", "one", "descript.ion"), "rb") as f:
            self.assertEqual(b"a0.7z first\r\na2.7z third\r\n >more\r\n", f.read())
        self.assertIn("two/a0.zip", times)
        self.assertIn("one/nest.tar", times)
        self.assertFalse(any(rel.endswith(".tmp") or ".tmp/" in rel
                             for rel in times))

    def test_two_shards_at_once_convert_each_archive_once(self):
        self.write_settings("Recurse yes\n")
        top = os.path.join(self.arc, "t")
        for d in range(12):
            self.archives.make("zip", os.path.join(top, "d%02d" % d, "x.zip"),
                               {"f": b"%d" % d})
        runs = [subprocess.Popen(
            [os.path.join(self.prog, "zavo"), "--shard", "%d/2" % k, "-j", "2",
             os.path.join(top, "*.*")], stdout=subprocess.PIPE,
            stderr=subprocess.PIPE) for k in (1, 2)]
        outs = [r.communicate(timeout=300)[0].decode() for r in runs]
        self.assertEqual([0, 0], [r.returncode for r in runs])
        done = [line for out in outs for line in out.split("\n")
                if line.endswith("done!")]
        self.assertEqual(12, len(done))
        folders = [set(line for line in out.split("\n")
                       if line.startswith("processing folder")) for out in outs]
        self.assertFalse(folders[0] & folders[1])
        self.assertTrue(folders[0] and folders[1], "both shards had work")
        tree = read_tree(top)
        self.assertEqual(12, sum(1 for rel in tree if rel.endswith("x.7z")))
        self.assertFalse(any(rel.endswith(".zip") for rel in tree))

    def test_two_runs_never_convert_in_one_folder_together(self):
        # An extractor that notices another one working in the folder.
        marker = os.path.join(self.scratch, "busy")
        log = os.path.join(self.scratch, "overlap")
        self.make_fake_archiver("slowx", """
if ! mkdir "%s" 2>/dev/null; then echo overlap >> "%s"; fi
sleep 0.3
rmdir "%s" 2>/dev/null
exec bsdtar -xf "$1"
""" % (marker, log, marker))
        with open(os.path.join(self.prog, "archivers.ini")) as f:
            lines = f.read().split("\n")
        out = []
        section = None
        for line in lines:
            if line.startswith("["):
                section = line
            if section == "[zip]" and line.startswith("extract="):
                line = "extract=%s @ArcName" % os.path.join(self.prog, "slowx")
            out.append(line)
        self.write_archivers("\n".join(out))
        for i in range(4):
            self.archives.make("zip", os.path.join(self.arc, "x%d.zip" % i))
        runs = []
        for _ in range(2):
            runs.append(subprocess.Popen(
                [os.path.join(self.prog, "zavo"), "-j", "1",
                 os.path.join(self.arc, "*.zip")], stdout=subprocess.PIPE,
                stderr=subprocess.PIPE))
            time.sleep(0.1)
        outs = [r.communicate(timeout=300)[0].decode() for r in runs]
        self.assertEqual([0, 1], sorted(r.returncode for r in runs), outs)
        self.assertFalse(os.path.exists(log), outs)
        busy = "folder [%s] is being converted by another run" % self.arc
        self.assertEqual(1, sum(busy in o for o in outs), outs)
        self.assertEqual(4, sum(o.count("done!") for o in outs))

    def test_nested_runs_share_the_budget(self):
        # Every extraction, outer or nested, counts itself while it runs.
        running = os.path.join(self.scratch, "running")
        os.makedirs(running)
        most = os.path.join(self.scratch, "most")
        self.make_fake_archiver("countx", """
touch "%s/$$"
ls "%s" | wc -l >> "%s"
sleep 0.3
rm -f "%s/$$"
exec bsdtar -x -f "$1" </dev/null
""" % (running, running, most, running))
        with open(os.path.join(self.prog, "archivers.ini")) as f:
            text = f.read()
        text = re.sub(r"(?m)^extract=bsdtar.*$",
                      "extract=%s @ArcName" % os.path.join(self.prog, "countx"),
                      text)
        self.write_archivers(text)
        self.write_settings("Nested yes\n")
        inner = {}
        for i in range(3):
            path = self.archives.make("zip", os.path.join(
                self.scratch, "i%d.zip" % i), {"f%d" % i: b"%d" % i})
            with open(path, "rb") as f:
                inner["i%d.zip" % i] = f.read()
        for i in range(3):
            self.archives.make("tar", os.path.join(self.arc, "o%d.tar" % i),
                               inner)
        code, lines = self.zavo("-j", "2", os.path.join(self.arc, "*.tar"))
        self.assertEqual(0, code, lines)
        self.assertEqual(3 + 9, sum(l.endswith("done!") for l in lines))
        with open(most) as f:
            counts = [int(n) for n in f.read().split()]
        self.assertEqual(12, len(counts))
        self.assertLessEqual(max(counts), 2, counts)
        self.assertEqual(2, max(counts), "two jobs did run at once")


if __name__ == "__main__":
    unittest.main()
