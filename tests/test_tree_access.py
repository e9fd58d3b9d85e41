"""End-to-end: nothing inside the tree is reached by name. A run that does
everything at once (recursion, nested archives, description lists, AddFile,
DeleteFile, Scan, Verify, KeepTime, a report, jobs) goes under strace, and
every call of every zavo process, nested runs included, that names a path
is looked at: besides opening the mask's folder itself, none may name a
path inside the tree, absolutely or relative to the current folder. Only
calls relative to a held folder may reach into it, and the archivers it
starts are free to do as they like in the folders they are handed."""

import glob
import os
import re
import shutil
import subprocess
import unittest

import kind_makers
from fault_helpers import make_zip
from zavo_e2e import ZavoCase

# Every call that takes a path. The *at() calls are allowed with a held
# folder and a relative name; with AT_FDCWD, or an absolute name, they are
# looked at like the others.
PATH_CALLS = (
    "open,openat,openat2,creat,stat,lstat,newfstatat,statx,access,faccessat,"
    "faccessat2,chmod,fchmodat,chown,lchown,fchownat,utime,utimes,utimensat,"
    "futimesat,unlink,unlinkat,rename,renameat,renameat2,link,linkat,symlink,"
    "symlinkat,readlink,readlinkat,mkdir,mkdirat,rmdir,mknod,mknodat,chdir,"
    "truncate,getxattr,lgetxattr,setxattr,lsetxattr,listxattr,llistxattr,"
    "removexattr,lremovexattr,execve")

CALL = re.compile(r'^(\w+)\((.*)\)\s+=\s+(-?\d+|\?)')
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')


def unescape(text):
    return bytes(text, "latin-1").decode("unicode_escape").encode(
        "latin-1").decode("utf-8", "surrogateescape")



def untraced_leaks():
    """The environment for a traced run: LeakSanitizer cannot work under
    ptrace, so a sanitized build is told not to look for leaks there."""
    env = dict(os.environ)
    asan = env.get("ASAN_OPTIONS", "")
    env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "detect_leaks=0"
    return env

class TreeAccessTest(ZavoCase):

    def setUp(self):
        super().setUp()
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        self.outside = os.path.join(self.root, "outside")
        os.makedirs(os.path.join(self.outside, "add"))
        with open(os.path.join(self.outside, "add", "file_id.nfo"), "w") as f:
            f.write("added\n")
        scanner = self.make_fake_archiver("scanner", 'ls "$1" >/dev/null')
        self.write_settings(
            "KeepTime yes\nVerify yes\nFileList descript.ion\n"
            "AddFile %s/add/*.nfo\nDeleteFile *.bak\nScan %s @Folder\n"
            % (self.outside, scanner))

    def zavo_calls(self, log):
        """(pid, call, arguments) of every traced call made while the
        process was zavo: before it started another program."""
        zavo = os.path.realpath(os.path.join(self.prog, "zavo"))
        calls = []
        # One log per process (strace -ff), so that no call is split in two
        # by another process's.
        for path in glob.glob(log + ".*"):
            pid = path.rsplit(".", 1)[1]
            with open(path, encoding="latin-1") as f:
                for line in f:
                    m = CALL.match(line)
                    if not m:
                        continue
                    name, args, result = m.groups()
                    if name == "execve":
                        paths = STRING.findall(args)
                        if result == "0" and paths and \
                                os.path.realpath(unescape(paths[0])) != zavo:
                            break  # another program from here on
                        continue
                    calls.append((pid, name, args, result))
        return calls

    def inside(self, path, cwd):
        full = os.path.normpath(os.path.join(cwd, path))
        return full == self.arc or full.startswith(self.arc + os.sep)

    def test_no_call_names_a_path_inside_the_tree(self):
        inner = make_zip(os.path.join(self.outside, "inner.zip"),
                         {"deep.txt": b"nested"})
        make_zip(os.path.join(self.arc, "a.zip"), {
            "readme.txt": b"top", "junk.bak": b"deleted", "inner.zip": inner})
        make_zip(os.path.join(self.arc, "sub", "b.zip"), {"x/y.txt": b"below"})
        # A volume set, every volume of it held and linked for its reader.
        os.makedirs(os.path.join(self.outside, "stage"))
        with open(os.path.join(self.outside, "stage", "r.bin"), "wb") as f:
            f.write(os.urandom(40000))
        kind_makers.make_set("rar", os.path.join(self.arc, "sub"), "set",
                             os.path.join(self.outside, "stage"), 16)
        for folder, name in (("", "a.zip"), ("sub", "b.zip")):
            with open(os.path.join(self.arc, folder, "descript.ion"), "w") as f:
                f.write("%s an archive\n" % name)
        report = os.path.join(self.outside, "report.jsonl")
        log = os.path.join(self.outside, "strace.log")
        start = self.outside
        p = subprocess.run(
            ["strace", "-ff", "-qq", "-s", "4096", "-o", log,
             "-e", "trace=" + PATH_CALLS, "-e", "signal=none",
             os.path.join(self.prog, "zavo"), "/r", "/n", "-j", "2",
             "--report", report, os.path.join(self.arc, "*.*")],
            cwd=start, env=untraced_leaks(), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, timeout=300)
        out = p.stdout.decode("latin-1")
        self.assertEqual(0, p.returncode, out + p.stderr.decode("latin-1"))
        for name in ("a.7z", "sub/b.7z", "sub/set.7z"):
            self.assertTrue(os.path.isfile(os.path.join(self.arc, name)), out)
        with open(os.path.join(self.arc, "sub", "descript.ion")) as f:
            self.assertEqual("b.7z an archive\n", f.read())

        calls = self.zavo_calls(log)
        pids = {c[0] for c in calls}
        # The top run and at least one nested run were seen.
        self.assertGreaterEqual(len(pids), 2)
        mask_opened = 0
        named = []
        for pid, name, args, result in calls:
            strings = [unescape(s) for s in STRING.findall(args)]
            if not strings:
                continue
            at_cwd = args.startswith("AT_FDCWD")
            held = re.match(r"^\d+,", args) is not None
            for path in strings[:2] if name in (
                    "rename", "link", "symlink") else strings[:1]:
                if held and not path.startswith("/"):
                    continue
                if not (held or at_cwd or name in PATH_CALLS):
                    continue
                if not self.inside(path, start):
                    continue
                if os.path.normpath(os.path.join(start, path)) == self.arc \
                        and name in ("open", "openat") and \
                        "O_DIRECTORY" in args:
                    mask_opened += 1
                    continue
                named.append("%s %s(%s) = %s" % (pid, name, args[:200], result))
        self.assertEqual([], named)
        self.assertEqual(1, mask_opened)


if __name__ == "__main__":
    unittest.main()
