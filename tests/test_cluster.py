"""End-to-end on a real cluster: a one-node Slurm cluster (munged, slurmctld,
slurmd, started here as root with their state in a temporary folder) runs
the man page's job array over a tree of a few hundred archives in many folders
with lists, with one task cancelled half way and the array submitted again,
and a task run twice at once; its GNU parallel and xargs -P recipes run
on this machine. The commands are read from the man page itself. Each archive must
be converted exactly once, counted from the tree and from the reports, and
--report-summary must say what those counts say."""

import collections
import glob
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from zavo_e2e import DEFAULT_ARCHIVERS, SOURCE, ZAVO

FOLDERS = ["d%02d" % i for i in range(12)] + \
          ["d%02d/s%d" % (i, j) for i in range(12) for j in range(3)]
KINDS = ["zip", "tar.gz"]


def manual_commands(root):
    """The cluster recipes of the man page, with /shared/ made `root`/."""
    with open(os.path.join(SOURCE, "doc", "zavo.1.in")) as f:
        text = f.read().replace("/shared/", root + "/").replace("\\e", "\\")
    lines = text.split("\n")
    start = lines.index("#!/bin/sh")
    end = lines.index(".Ed", start)
    block = lines[start:end]

    def line(prefix):
        return next(l.strip() for l in lines if l.startswith(prefix))
    return {"script": "\n".join(block) + "\n",
            "submit": line("sbatch --array=1-4 --wait zavo-array.sh"),
            "summary": line("zavo --report-summary "),
            "parallel": line("parallel "), "xargs": line("seq 1 4 | xargs")}


def shard_of(folder, count):
    h = 14695981039346656037
    for c in folder.encode():
        h = ((h ^ c) * 1099511628211) % 2**64
    return h % count + 1


def sh(command, cwd, env, check=True):
    p = subprocess.run(["bash", "-c", command], cwd=cwd, env=env, timeout=180,
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE)
    if check and p.returncode != 0:
        raise AssertionError("%s: %d\n%s%s" % (command, p.returncode,
                                              p.stdout.decode(), p.stderr.decode()))
    return p.returncode, p.stdout.decode("utf-8", "replace")


class Tree:
    """Archives with distinct contents in `folders`, each folder with a
    description list and a file that is no archive."""

    def __init__(self, root, per_folder, folders):
        self.root = root
        self.top = os.path.join(root, "arc")
        for d in ("reports", "logs"):
            os.makedirs(os.path.join(root, d))
        self.archives = {}  # full path: (new path, contents, bytes)
        self.lists = {}
        stage = os.path.join(root, "stage")
        os.makedirs(stage)
        for folder in folders:
            entries = []
            for i in range(per_folder):
                kind = KINDS[i % 2]
                path = os.path.join(self.top, folder, "a%d.%s" % (i, kind))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                contents = ("%s/a%d\n" % (folder, i)).encode() * (i + 1)
                with open(os.path.join(stage, "f.txt"), "wb") as f:
                    f.write(contents)
                command = (["zip", "-qX", path, "f.txt"] if kind == "zip"
                           else ["tar", "-czf", path, "f.txt"])
                subprocess.run(command, cwd=stage, check=True)
                with open(path, "rb") as f:
                    self.archives[path] = (path[:-len(kind)] + "7z", contents,
                                           f.read())
                entries.append("a%d.%s archive %d\r\n" % (i, kind, i))
            self.lists[folder] = "".join(entries)
            for name, text in (("descript.ion", self.lists[folder]),
                               ("notes.txt", "no archive\n")):
                with open(os.path.join(self.top, folder, name), "w",
                          newline="") as f:
                    f.write(text)

    def in_shard(self, path, k, n=4):
        return shard_of(os.path.relpath(os.path.dirname(path), self.top), n) == k

    def check(self, case, must_be_converted, unpack=True):
        """Nothing lost: each archive is its original, or its new archive
        (`unpack`: with the same contents); lists follow; no work folder is
        left. Returns the converted ones."""
        converted = set()
        for path, (new, contents, original) in self.archives.items():
            there = [p for p in (path, new) if os.path.exists(p)]
            case.assertEqual(1, len(there), path)
            if there == [path]:
                case.assertNotIn(path, must_be_converted)
                with open(path, "rb") as f:
                    case.assertEqual(original, f.read(), path)
                continue
            converted.add(path)
            if not unpack:
                continue
            got = subprocess.run(["7z", "x", "-so", new], check=True,
                                 stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL).stdout
            case.assertEqual(contents, got, new)
        case.assertLessEqual(set(must_be_converted), converted)
        for folder, text in self.lists.items():
            for path in converted:
                if os.path.dirname(path) == os.path.join(self.top, folder):
                    old = os.path.basename(path)
                    text = text.replace(old, os.path.basename(
                        self.archives[path][0]))
            with open(os.path.join(self.top, folder, "descript.ion"),
                      newline="") as f:
                case.assertEqual(text, f.read(), folder)
        leftovers = [d for d, _, _ in os.walk(self.top) if d.endswith(".tmp")]
        case.assertEqual([], leftovers)
        return converted

    def records(self, pattern="*.jsonl"):
        """{report file: its lines}."""
        found = {}
        for name in sorted(glob.glob(os.path.join(self.root, "reports", pattern))):
            with open(name) as f:
                found[name] = [json.loads(line) for line in f]
        return found

    def summary_line(self, converted):
        before = sum(len(self.archives[p][2]) for p in converted)
        after = sum(os.path.getsize(self.archives[p][0]) for p in converted)
        return "archives: %d converted, 0 failed, 0 left; %d bytes before, %d after" % (
            len(converted), before, after)


class Cluster:
    """munged, slurmctld and slurmd of a one-node cluster, state in `root`."""

    def __init__(self, root):
        self.root = root
        self.daemons = []
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("SLURM_")}
        self.env["SLURM_CONF"] = os.path.join(root, "slurm.conf")

    def start(self):
        """None when the cluster is up, else why it cannot start."""
        missing = [p for p in ("munged", "slurmctld", "slurmd", "sbatch")
                   if shutil.which(p) is None]
        if missing or os.geteuid() != 0:
            return ("needs root and %s" % " ".join(missing)) if missing \
                else "needs root to start munged, slurmctld and slurmd"
        munge = os.path.join(self.root, "munge")
        os.makedirs(munge)
        with open(os.path.join(munge, "munge.key"), "wb") as f:
            f.write(os.urandom(128))
        os.chmod(os.path.join(munge, "munge.key"), 0o600)
        for p in (munge, os.path.join(munge, "munge.key")):
            shutil.chown(p, "munge", "munge")
        self.daemon(["munged", "-F", "--socket=%s/socket" % munge,
                     "--key-file=%s/munge.key" % munge,
                     "--pid-file=%s/pid" % munge, "--seed-file=%s/seed" % munge],
                    "munged", user="munge", group="munge", extra_groups=[])
        ports = []
        for _ in range(2):
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                ports.append(s.getsockname()[1])
        host = socket.gethostname().split(".")[0]
        with open(self.env["SLURM_CONF"], "w") as f:
            f.write(SLURM_CONF.format(
                root=self.root, host=host, cpus=os.cpu_count(),
                ctld_port=ports[0], slurmd_port=ports[1]))
        self.daemon(["slurmctld", "-D", "-i", "-f", self.env["SLURM_CONF"]],
                    "slurmctld")
        self.daemon(["slurmd", "-D", "-N", host, "-f", self.env["SLURM_CONF"]],
                    "slurmd")
        for _ in range(150):
            state = subprocess.run(["sinfo", "-h", "-o", "%T"], env=self.env,
                                   stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL).stdout
            if state.strip() == b"idle":
                return None
            if any(d.poll() is not None for d, _ in self.daemons):
                break
            time.sleep(0.2)
        logs = ""
        for _, log in self.daemons:
            with open(log, errors="replace") as f:
                logs += " | ".join(f.read().strip().split("\n")[-2:]) + " | "
        return "the cluster did not come up: " + logs

    def daemon(self, command, name, **kw):
        log = os.path.join(self.root, name + ".log")
        with open(log, "wb") as out:
            self.daemons.append((subprocess.Popen(
                command, stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT, **kw), log))

    def stop(self):
        if len(self.daemons) == 3 and self.daemons[2][0].poll() is None:
            subprocess.run(["scancel", "--user=root"], env=self.env)
            for _ in range(100):
                jobs = subprocess.run(["squeue", "-h"], env=self.env,
                                      stdout=subprocess.PIPE).stdout
                if not jobs.strip():
                    break
                time.sleep(0.2)
        for daemon, _ in reversed(self.daemons):
            daemon.send_signal(signal.SIGTERM)
            try:
                daemon.wait(timeout=15)
            except subprocess.TimeoutExpired:
                daemon.kill()
                daemon.wait()

    def tasks(self, job):
        """{array task: (state, exit code)} of a job that has ended, from
        the completion records (slurmctld forgets ended jobs within
        MinJobAge, kept short so that sbatch --wait polls often)."""
        with open(os.path.join(self.root, "jobs.txt")) as f:
            return {int(m.group(3)): (m.group(1), m.group(4)) for m in re.finditer(
                r"JobState=(\w+) .*ArrayJobId=(%s) ArrayTaskId=(\d+) .*"
                r" ExitCode=(\S+)" % job, f.read())}


SLURM_CONF = """ClusterName=zavotest
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={ctld_port}
SlurmdPort={slurmd_port}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={root}/munge/socket
StateSaveLocation={root}/state
SlurmdSpoolDir={root}/spool
SlurmctldPidFile={root}/slurmctld.pid
SlurmdPidFile={root}/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
KillWait=10
MinJobAge=5
JobCompType=jobcomp/filetxt
JobCompLoc={root}/jobs.txt
NodeName={host} NodeAddr=127.0.0.1 CPUs={cpus} State=UNKNOWN
PartitionName=zavo Nodes={host} Default=YES MaxTime=INFINITE State=UP
"""


class ClusterTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="zavo_cluster_")
        os.chmod(cls.base, 0o755)
        prog = os.path.join(cls.base, "prog")
        os.makedirs(prog)
        shutil.copy2(ZAVO, prog)
        shutil.copy(DEFAULT_ARCHIVERS, prog)
        shutil.copy(os.path.join(os.path.dirname(DEFAULT_ARCHIVERS), "zavo.ctl"),
                    prog)
        cls.cluster = Cluster(os.path.join(cls.base, "slurm"))
        os.makedirs(cls.cluster.root)
        cls.env = cls.cluster.env
        cls.env["PATH"] = prog + os.pathsep + cls.env["PATH"]
        cls.addClassCleanup(shutil.rmtree, cls.base, True)
        cls.addClassCleanup(cls.cluster.stop)
        cls.cannot = cls.cluster.start()
        if cls.cannot:
            print("test_cluster: Slurm tests skipped: " + cls.cannot,
                  file=sys.stderr)

    def tree(self, name, per_folder, folders=FOLDERS):
        root = os.path.join(self.base, name)
        tree = Tree(root, per_folder, folders)
        commands = manual_commands(root)
        with open(os.path.join(root, "zavo-array.sh"), "w") as f:
            f.write(commands["script"])
        return tree, commands

    def summary(self, tree, command):
        code, out = sh(command, tree.root, self.env, check=False)
        return code, out.split("\n")[:-1]

    def assertConvertedOnce(self, tree, reports, converted):
        counts = collections.Counter(
            r["old"] for lines in reports.values() for r in lines
            if r["type"] == "archive" and r["status"] == "converted")
        self.assertEqual(dict.fromkeys(converted, 1), dict(counts))

    def test_job_array_with_a_task_cancelled_and_the_array_submitted_again(self):
        if self.cannot:
            self.skipTest(self.cannot)
        tree, commands = self.tree("array", 5)
        sizes = collections.Counter(
            k for k in range(1, 5) for p in tree.archives if tree.in_shard(p, k))
        victim = max(range(1, 5), key=lambda k: sizes[k])
        first = subprocess.Popen(["bash", "-c", commands["submit"]],
                                 cwd=tree.root, env=self.env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Cancel the biggest shard's task once it has converted a few.
        cancelled = None
        for _ in range(600):
            for name, lines in tree.records("*-%d.jsonl" % victim).items():
                self.assertNotEqual("totals", lines and lines[-1]["type"],
                                    "the task ended before it was cancelled")
                if len(lines) >= 3:
                    cancelled = os.path.basename(name).split("-")[0]
            if cancelled:
                break
            time.sleep(0.05)
        self.assertTrue(cancelled, "the task to cancel never ran")
        sh("scancel %s_%d" % (cancelled, victim), tree.root, self.env)
        # sbatch --wait's own exit code leaves out the tasks slurmctld has
        # forgotten: the completion records tell.
        first.communicate(timeout=180)
        states = self.cluster.tasks(cancelled)
        self.assertEqual("CANCELLED", states.pop(victim)[0])
        self.assertEqual({k: ("COMPLETED", "0:0") for k in range(1, 5)
                          if k != victim}, states)
        # The final check unpacks what this one finds converted.
        halfway = tree.check(self, (), unpack=False)
        self.assertLess(len(halfway), len(tree.archives))
        reports = tree.records()
        last = reports[os.path.join(tree.root, "reports", "%s-%d.jsonl" % (
            cancelled, victim))][-1]
        self.assertEqual(("totals", 128 + signal.SIGTERM),
                         (last["type"], last["exit_code"]))

        code, out = sh(commands["submit"], tree.root, self.env)
        again = re.search(r"Submitted batch job (\d+)", out).group(1)
        self.assertEqual({k: ("COMPLETED", "0:0") for k in range(1, 5)},
                         self.cluster.tasks(again))
        converted = tree.check(self, tree.archives)
        reports = tree.records()
        self.assertConvertedOnce(tree, reports, converted)
        for name, lines in reports.items():
            k = int(name[:-len(".jsonl")].split("-")[-1])
            self.assertTrue(all(tree.in_shard(r["old"], k) for r in lines
                                if r["type"] == "archive"), name)
            self.assertEqual("totals", lines[-1]["type"])
        archive_lines = sum(1 for lines in reports.values() for r in lines
                            if r["type"] == "archive")

        # The whole history: every archive once, and the cancelled run.
        code, lines = self.summary(tree, commands["summary"])
        self.assertEqual(1, code, lines)
        self.assertIn(tree.summary_line(converted), lines)
        self.assertIn("runs: 8 finished (exit code 0: 7, exit code 143: 1)",
                      lines)
        self.assertIn("seen again: %d" % (archive_lines - len(converted)),
                      lines[4])
        # The second submission alone finished the job.
        code, lines = self.summary(tree, commands["summary"].replace(
            "*.jsonl", again + "-*.jsonl"))
        self.assertEqual(0, code, lines)
        self.assertEqual("runs: 4 finished (exit code 0: 4)", lines[1])
        self.assertEqual(tree.summary_line(converted - halfway), lines[2])
        self.assertTrue(lines[-1].startswith("all done: "), lines)

    def test_a_task_run_twice_at_once(self):
        if self.cannot:
            self.skipTest(self.cannot)
        tree, commands = self.tree("twice", 4, FOLDERS[:24])
        submit = commands["submit"].replace("--array=1-4 --wait",
                                            "--array=2 --hold --parsable")
        jobs = [sh(submit, tree.root, self.env)[1].strip().split(";")[0]
                for _ in range(2)]
        sh("scontrol release " + ",".join(jobs), tree.root, self.env)
        for _ in range(1200):
            # squeue fails for a job slurmctld has forgotten.
            code, queued = sh("squeue -h -j " + ",".join(jobs), tree.root,
                              self.env, check=False)
            if code != 0 or not queued.strip():
                break
            time.sleep(0.1)
        shard = {p for p in tree.archives if tree.in_shard(p, 2)}
        converted = tree.check(self, shard)
        self.assertEqual(shard, converted)
        self.assertConvertedOnce(tree, tree.records(), converted)
        met = 0
        for job in jobs:
            with open(os.path.join(tree.root, "logs", "%s-2.out" % job)) as f:
                held = re.findall(
                    r"^folder \[.*\] is being converted by another run$",
                    f.read(), re.M)
            met += bool(held)
            code = 1 if held else 0
            self.assertEqual({2: ("FAILED" if code else "COMPLETED",
                                  "%d:0" % code)}, self.cluster.tasks(job))
            totals = tree.records("%s-2.jsonl" % job)
            self.assertEqual([code], [r["exit_code"] for lines in totals.values()
                                      for r in lines if r["type"] == "totals"])
        self.assertGreater(met, 0, "the two tasks never met")

    def test_gnu_parallel_and_xargs_recipes(self):
        for recipe in ("parallel", "xargs"):
            with self.subTest(recipe):
                tree, commands = self.tree(recipe, 3, FOLDERS[:16])
                sh(commands[recipe], tree.root, self.env)
                converted = tree.check(self, tree.archives)
                self.assertConvertedOnce(tree, tree.records(), converted)
                code, lines = self.summary(tree, commands["summary"])
                self.assertEqual(0, code, lines)
                self.assertEqual(["runs: 4 finished (exit code 0: 4)",
                                  tree.summary_line(converted)], lines[1:3])


if __name__ == "__main__":
    unittest.main()
