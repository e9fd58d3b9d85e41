"""End-to-end: --report writes one JSON line per recognised archive, with
checksums that sha256sum agrees with, and totals that match the records."""

import base64
import hashlib
import io
import json
import os
import random
import shutil
import signal
import subprocess
import time
import unittest
import zipfile

from zavo_e2e import ZavoCase, read_bytes, unpack_7z


def sha256sum(path):
    out = subprocess.run(["sha256sum", "-b", path], check=True,
                         stdout=subprocess.PIPE).stdout
    return out.split()[0].decode()


def zip_bytes(members, links=()):
    """A zip in memory of {name: bytes}, with `links` stored as symbolic
    links to their names."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members.items():
            z.writestr(name, data)
        for name, target in links:
            info = zipfile.ZipInfo(name)
            info.external_attr = (0o120777 << 16)
            z.writestr(info, target)
    return buffer.getvalue()


class ReportTest(ZavoCase):

    settings = "KeepTime yes\n"

    def read_report(self, path):
        """The report's lines, each parsed; every line must be whole."""
        data = read_bytes(path)
        self.assertTrue(data == b"" or data.endswith(b"\n"), data[-200:])
        return [json.loads(line) for line in data.decode("utf-8").splitlines()]

    def write(self, rel, data):
        path = os.path.join(self.arc, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_converted_failed_left_and_nested_archives(self):
        # One job, and two at once: the parallel jobs and their nested runs
        # share the report.
        for jobs in ((), ("-j", "2")):
            with self.subTest(jobs=jobs):
                shutil.rmtree(self.arc)
                shutil.rmtree(self.scratch)
                os.makedirs(self.arc)
                os.makedirs(self.scratch)
                self.check_mixed_tree(jobs)

    def check_mixed_tree(self, jobs):
        inner = zip_bytes({"in.txt": b"inner file\n" * 50})
        good = self.write("good.zip", zip_bytes(
            {"a.txt": b"alpha\n" * 100, "sub/b.txt": b"beta\n", "sub/deep/": b""},
            links=[("link", "a.txt")]))
        broken = self.write("broken.zip", b"this is not a zip archive\n" * 10)
        taken = self.write("taken.zip", zip_bytes({"t.txt": b"taken\n"}))
        taken_7z = self.write("taken.7z", b"someone else's file")
        outer = self.write("outer.zip", zip_bytes({"inner.zip": inner,
                                                   "note.txt": b"outer\n"}))
        old = {p: (sha256sum(p), os.path.getsize(p))
               for p in (good, broken, taken, outer)}
        report = os.path.join(self.scratch, "report.jsonl")

        self.write_settings(self.settings + "Verify yes\n")
        code, lines = self.zavo("--report", report, "/n", *jobs, "*.zip")
        self.assertEqual(1, code, lines)
        records = self.read_report(report)
        self.assertEqual("totals", records[-1]["type"])
        by_old = {r["old"]: r for r in records if r["type"] == "archive"}
        top = {r["old"]: r for r in by_old.values() if "parent" not in r}
        self.assertEqual({good, broken, taken, outer}, set(top))
        for path, r in top.items():
            self.assertEqual(old[path][0], r["old_sha256"], path)
            self.assertEqual(old[path][1], r["old_size"], path)
            self.assertEqual("zip", r["definition"], path)
            self.assertIn(r["message"], lines, path)
            self.assertGreaterEqual(r["seconds"], 0, path)

        r = top[good]
        new = os.path.join(self.arc, "good.7z")
        self.assertEqual(("converted", None, None), (r["status"], r["step"], r["reason"]))
        self.assertEqual("[good.zip] -> [good.7z] done!", r["message"])
        self.assertEqual(new, r["new"])
        self.assertEqual(sha256sum(new), r["new_sha256"])
        self.assertEqual(os.path.getsize(new), r["new_size"])
        self.assertEqual({"files": 2, "folders": 2, "links": 1}, r["unpacked"])
        self.assertEqual((True, True), (r["tested"], r["verified"]))
        self.assertEqual({"count": 0, "failed": 0}, r["nested"])

        r = top[broken]
        self.assertEqual(("failed", "extraction"), (r["status"], r["step"]))
        self.assertEqual("extraction mistake on [%s]. next archive!" % broken,
                         r["message"])
        for key in ("new", "new_sha256", "new_size", "unpacked"):
            self.assertIsNone(r[key], key)
        self.assertEqual((False, False), (r["tested"], r["verified"]))

        r = top[taken]
        self.assertEqual(("left", "exists", None), (r["status"], r["reason"], r["step"]))
        self.assertEqual("[taken.zip] -> [taken.7z] exists, not replaced!",
                         r["message"])
        self.assertIsNone(r["new"])
        self.assertEqual(b"someone else's file", read_bytes(taken_7z))

        # The nested run's record names the archive it worked for; its new
        # archive now lies inside the outer one.
        r = top[outer]
        self.assertEqual("converted", r["status"])
        self.assertEqual({"count": 1, "failed": 0}, r["nested"])
        nested = [n for n in by_old.values() if n.get("parent") == outer]
        self.assertEqual(1, len(nested), records)
        n = nested[0]
        self.assertEqual(("converted", "inner.zip"),
                         (n["status"], os.path.basename(n["old"])))
        self.assertTrue(n["old"].startswith(self.arc + "/"))
        members = unpack_7z(os.path.join(self.arc, "outer.7z"),
                            os.path.join(self.scratch, "outer"))
        self.assertEqual(
            sha256sum(os.path.join(self.scratch, "outer", "inner.7z")),
            n["new_sha256"])
        self.assertEqual(hashlib.sha256(inner).hexdigest(),
                         n["old_sha256"])
        self.assertIn("inner.7z", members)
        # Every archive that was unpacked had its nested run, and each run
        # left its totals line.
        nested_totals = {t["parent"]: (t["converted"], t["failed"], t["left"])
                         for t in records if t["type"] == "nested_totals"}
        self.assertEqual({good: (0, 0, 0), taken: (0, 0, 0), outer: (1, 0, 0),
                          n["old"]: (0, 0, 0)}, nested_totals)

        totals = records[-1]
        converted = [top[good], top[outer]]
        self.assertEqual((2, 1, 1), (totals["converted"], totals["failed"],
                                     totals["left"]))
        self.assertEqual(sum(c["old_size"] for c in converted), totals["bytes_before"])
        self.assertEqual(sum(c["new_size"] for c in converted), totals["bytes_after"])
        self.assertEqual(code, totals["exit_code"])
        self.assertEqual(1, sum(1 for t in records if t["type"] == "totals"))

        # A second run appends: the first run's lines stay as they were.
        before = read_bytes(report)
        self.assertEqual(0, self.zavo("--report", report, "good.7z")[0])
        after = read_bytes(report)
        self.assertTrue(after.startswith(before))
        self.assertEqual(
            [{"type": "totals", "converted": 0, "failed": 0, "left": 0,
              "exit_code": 0}],
            [{k: t[k] for k in ("type", "converted", "failed", "left", "exit_code")}
             for t in self.read_report(report)[len(records):]])

    def test_names_that_are_not_utf8_keep_their_bytes(self):
        name = b"caf\xe9 \xff.zip"
        path = os.path.join(self.arc.encode(), name)
        with open(path, "wb") as f:
            f.write(zip_bytes({"x": b"x"}))
        self.write_settings(self.settings + "Report ../scratch/r.jsonl\n")
        code, lines = self.zavo("*.zip")
        self.assertEqual(0, code, lines)
        r = self.read_report(os.path.join(self.scratch, "r.jsonl"))[0]
        self.assertEqual(path, base64.b64decode(r["old_b64"]))
        self.assertEqual(path[:-4] + b".7z", base64.b64decode(r["new_b64"]))
        self.assertEqual(self.arc + "/caf\ufffd \ufffd.zip", r["old"])
        # Tested, but not unpacked again without Verify.
        self.assertEqual((True, False), (r["tested"], r["verified"]))

    def test_a_report_that_cannot_be_opened_stops_before_any_conversion(self):
        self.write("a.zip", zip_bytes({"x": b"x"}))
        code, lines = self.zavo("--report", os.path.join(self.root, "no", "r"),
                                "*.zip")
        self.assertEqual(2, code, lines)
        self.assertEqual("exiting...", lines[-1])
        self.assertTrue(os.path.exists(os.path.join(self.arc, "a.zip")))
        self.assertFalse(os.path.exists(os.path.join(self.arc, "a.7z")))

    def test_stop_on_error_records_the_failure_and_exit_code_2(self):
        broken = self.write("a.zip", b"not a zip")
        self.write("b.zip", zip_bytes({"x": b"x"}))
        self.write_settings(self.settings + "StopOnError yes\n")
        report = os.path.join(self.scratch, "r.jsonl")
        code, lines = self.zavo("--report", report, "*.zip")
        self.assertEqual(2, code, lines)
        records = self.read_report(report)
        self.assertEqual(["archive", "totals"], [r["type"] for r in records])
        self.assertEqual(("failed", "extraction", broken),
                         (records[0]["status"], records[0]["step"],
                          records[0]["old"]))
        # The message is the line printed before "exiting...".
        self.assertEqual(lines[-2], records[0]["message"])
        self.assertEqual((0, 1, 2), (records[1]["converted"],
                                     records[1]["failed"],
                                     records[1]["exit_code"]))

    def test_a_killed_run_leaves_only_whole_lines(self):
        for i in range(12):
            self.write("a%02d.zip" % i, zip_bytes(
                {"f.txt": b"%d\n" % i * 200,
                 "inner.zip": zip_bytes({"g": b"%d" % i * 300})}))
        report = os.path.join(self.scratch, "report.jsonl")
        chance = random.Random(os.environ.get("ZAVO_KILL_SEED", time.time_ns()))
        for _ in range(4):
            p = subprocess.Popen(
                [os.path.join(self.prog, "zavo"), "--report", report, "/n",
                 "-j", "2", "*.zip"], cwd=self.arc, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
            time.sleep(chance.uniform(0.05, 1.5))
            if p.poll() is None:
                os.kill(p.pid, signal.SIGKILL)
            # Nested runs left behind finish and close the pipe.
            p.communicate(timeout=120)
            # A run killed before it opened the report wrote none.
            if os.path.exists(report):
                self.read_report(report)
        # A whole run after the killed ones appends its lines after theirs.
        subprocess.run([os.path.join(self.prog, "zavo"), "--report", report,
                        "/n", "-j", "2", "*.zip"], cwd=self.arc,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, timeout=300)
        self.assertEqual("totals", self.read_report(report)[-1]["type"])


if __name__ == "__main__":
    unittest.main()
