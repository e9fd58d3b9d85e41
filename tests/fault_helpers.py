"""Helpers of the reliability tests: archives with known contents, the check
that every original archive survives byte for byte or stands converted and
complete under its final name, and runs of zavo that are bounded in time,
killed, limited in file size or made as an unprivileged user."""

import os
import hashlib
import re
import resource
import shutil
import signal
import stat
import subprocess
import time
import zipfile

from zavo_e2e import BANNER, ZavoCase, read_tree, unpack_7z

# The only thing a run that was killed may leave in an archive's folder.
WORK_FOLDER = re.compile(r"^[0-9a-fA-F]{8}\.tmp$")
NOBODY = 65534

# The archivers of the tests: the real 7z for everything, written the way
# the default archivers file writes it, so that a fault injected into one
# template meets real commands in all the others.
SEVEN_Z = {
    "extract": "7z x -bd -bso0 -bsp0 -y -- @ArcName </dev/null",
    "add": "7z a -t7z -snl -bd -bso0 -bsp0 -y -- @ArcName @FileName </dev/null",
    "test": "7z t -bd -bso0 -bsp0 -- @ArcName </dev/null",
}


def archivers_text(target=None, source=None, extension="zip"):
    """An archivers file converting zip (or the kind of `extension`) to 7z;
    `target` and `source` replace templates of the 7z and source sections
    ("" leaves a template out)."""
    t = dict(SEVEN_Z, **(target or {}))
    s = dict(SEVEN_Z, **(source or {}))
    lines = ["[7z]", "extension=7z", "ident=0,377ABCAF271C"]
    lines += ["%s=%s" % (k, t[k]) for k in ("extract", "add", "test") if t[k]]
    lines += ["", "[%s]" % extension, "extension=%s" % extension]
    lines += ["%s=%s" % (k, s[k]) for k in ("extract", "test") if s[k]]
    return "\r\n".join(lines) + "\r\n"


def member_files(seed):
    """Contents of a test archive, different for every seed: a file at the
    top, one in a sub-folder, a dot-name, an empty folder, binary data."""
    tag = seed.encode("utf-8", "surrogateescape")
    return {
        "readme.txt": b"archive " + tag + b"\n",
        "sub/deeper/data.bin": bytes((i * 7 + len(tag)) % 256
                                     for i in range(3000)) + tag,
        ".hidden": tag,
        "empty": None,
    }


def with_folders(files):
    """`files` with every folder that holds one of them, as read_tree and a
    complete unpacking list them."""
    tree = dict(files)
    for name in files:
        parent = os.path.dirname(name)
        while parent:
            tree.setdefault(parent, None)
            parent = os.path.dirname(parent)
    return tree


def digest_tree(root):
    return {rel: None if data is None else hashlib.sha256(data).hexdigest()
            for rel, data in read_tree(root).items()}


def make_zip(path, files, links=None):
    """Writes a zip of {name: bytes or None for a folder}, with `links`
    {name: target} stored as symbolic links. Names are taken as given, so
    hostile ones ("../x", "/abs") go into the archive unchanged."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files.items():
            if data is None:
                z.writestr(zipfile.ZipInfo(name.rstrip("/") + "/"), b"")
            else:
                z.writestr(name, data)
        for name, target in (links or {}).items():
            info = zipfile.ZipInfo(name)
            info.create_system = 3
            info.external_attr = (stat.S_IFLNK | 0o777) << 16
            z.writestr(info, target)
    with open(path, "rb") as f:
        return f.read()


def file_size_limit(limit):
    """A preexec function: writes past `limit` bytes fail for zavo and every
    command it starts (with SIGXFSZ, which ends a program that does not
    handle it, or with EFBIG)."""
    def apply():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


def as_nobody():
    """Command prefix that runs a program as the unprivileged user, for the
    tests of permissions that root would ignore."""
    return ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
            "--clear-groups"]


def give_to_nobody(path):
    for folder, dirs, files in os.walk(path):
        os.lchown(folder, NOBODY, NOBODY)
        for name in dirs + files:
            os.lchown(os.path.join(folder, name), NOBODY, NOBODY)


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def process_group_alive(pgid):
    try:
        os.killpg(pgid, 0)
        return True
    except ProcessLookupError:
        return False


def group_runs(pgid, name):
    """Whether a process named `name` runs in the process group `pgid`."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        if comm == name and int(fields[2]) == pgid:
            return True
    return False


def zavo_lines(lines):
    """zavo's own report lines among the archivers' output."""
    return [l for l in lines if l.startswith(("processing folder [", "["))
            or " mistake on [" in l or l == "exiting..."
            or l.startswith(("run interrupted on [", "work folder [", "folder [",
                             "can't save list ["))]


class ReliabilityCase(ZavoCase):
    """A test whose archives are known: self.originals maps each archive's
    path below the archive folder to (its bytes, its members). A folder
    beside the tree and the program folder must come through every run
    unchanged."""

    settings = ""

    def setUp(self):
        super().setUp()
        self.write_archivers(archivers_text())
        self.outside = os.path.join(self.root, "outside")
        os.makedirs(os.path.join(self.outside, "folder"))
        for name, data in (("secret.txt", b"outside data\n"),
                           ("folder/inside.txt", b"outside folder\n"),
                           ("victim.nfo", b"outside victim\n")):
            with open(os.path.join(self.outside, name), "wb") as f:
                f.write(data)
        self.originals = {}
        self.checks = 0
        # The archivers file is written back in its normal form by the first
        # run; from then on the program folder must not change.
        self.run_zavo("nothing-matches.*")
        self.untouchable = self.outside_state()

    def outside_state(self):
        state = {"outside": digest_tree(self.outside),
                 "prog": digest_tree(self.prog),
                 "root": sorted(os.listdir(self.root))}
        state["modes"] = {rel: stat.S_IMODE(os.lstat(os.path.join(self.outside, rel)).st_mode)
                          for rel in state["outside"]}
        return state

    def add_zip(self, rel, files=None, links=None):
        files = member_files(rel) if files is None else files
        data = make_zip(os.path.join(self.arc, rel), files, links)
        self.originals[rel] = (data, files)
        return os.path.join(self.arc, rel)

    def write_archivers(self, text):
        super().write_archivers(text)
        if hasattr(self, "untouchable"):
            # A new archivers file is normalised by the next run; take that
            # as the program folder's state.
            self.run_zavo("nothing-matches.*")
        self.settings_changed()

    def write_settings(self, text, archives="archivers.ini"):
        super().write_settings(text, archives)
        self.settings_changed()

    def settings_changed(self):
        if hasattr(self, "untouchable"):
            self.untouchable = self.outside_state()

    def start_zavo(self, *params, prefix=(), preexec=None, cwd=None):
        env = dict(os.environ)
        env.pop("COMSPEC", None)
        return subprocess.Popen(list(prefix) + [os.path.join(self.prog, "zavo")]
                                + list(params), cwd=cwd or self.arc, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=preexec, start_new_session=True)

    def finish(self, p, timeout=120):
        """Waits for a started run, killing it and everything it started
        when it outlives `timeout`. Returns (exit code, zavo's lines)."""
        try:
            out, _ = p.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.communicate()
            raise AssertionError("zavo did not finish within %ds" % timeout)
        lines = out.decode("latin-1").split("\n")
        self.assertEqual("", lines[-1], "output ends with a line end")
        self.assertEqual(BANNER, lines[:3])
        return p.returncode, zavo_lines(lines[3:-1])

    def run_zavo(self, *params, timeout=120, **kw):
        return self.finish(self.start_zavo(*params, **kw), timeout)

    def converted_members(self, archive):
        self.checks += 1
        into = os.path.join(self.scratch, "check%d" % self.checks)
        try:
            return unpack_7z(archive, into)
        except subprocess.CalledProcessError:
            return "not a complete 7z archive"
        finally:
            shutil.rmtree(into, ignore_errors=True)

    def assertNothingLost(self, work_folders_allowed=False, extra=(),
                          must_be_converted=()):
        """Every original is there byte for byte, or its converted form is
        complete under the final name and the original is gone; besides
        them the tree holds only `extra` paths (and, after a kill, work
        folders); nothing outside the tree changed. Returns {original:
        "kept" or "converted"}."""
        outcome = {}
        expected_paths = set(extra)
        for rel, (data, files) in self.originals.items():
            path = os.path.join(self.arc, rel)
            final = os.path.join(self.arc, rel.rsplit(".", 1)[0] + ".7z")
            if os.path.lexists(path):
                with open(path, "rb") as f:
                    self.assertEqual(data, f.read(), "%s changed" % rel)
                outcome[rel] = "kept"
                expected_paths.add(rel)
            else:
                self.assertTrue(os.path.isfile(final),
                                "%s is gone and %s is missing" % (rel, final))
                if files is not None:
                    self.assertEqual(with_folders(files),
                                     self.converted_members(final), final)
                outcome[rel] = "converted"
                expected_paths.add(os.path.relpath(final, self.arc))
            if rel in must_be_converted:
                self.assertEqual("converted", outcome[rel], rel)
        for folder, dirs, names in os.walk(self.arc):
            rel_folder = os.path.relpath(folder, self.arc)
            for d in list(dirs):
                rel = os.path.normpath(os.path.join(rel_folder, d))
                if work_folders_allowed and WORK_FOLDER.match(d):
                    dirs.remove(d)  # what a killed run left: not looked into
                    continue
                if not any(p.startswith(rel + "/") or p == rel
                           for p in expected_paths):
                    self.fail("unexpected folder %s" % rel)
            for n in names:
                rel = os.path.normpath(os.path.join(rel_folder, n))
                self.assertIn(rel, expected_paths, "unexpected file")
        self.assertEqual(self.untouchable, self.outside_state(),
                         "something outside the tree changed")
        return outcome
