"""End-to-end: zavo installed into a DESTDIR by the install rules, run from
there with the user's settings from XDG_CONFIG_HOME; the man page and the
bash completion that come with it."""

import gzip
import os
import shutil
import subprocess
import tempfile
import unittest

from zavo_e2e import BANNER, Archives, SAMPLE_FILES, unpack_7z, with_folders

ZAVO = os.environ.get("ZAVO_BINARY") or os.path.join(
    os.path.dirname(__file__), "..", "build", "zavo")
BUILD = os.path.dirname(os.path.abspath(ZAVO))


def cache_value(name):
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise KeyError(name)


class InstallTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="zavo_install_")
        cls.dest = os.path.join(cls.root, "dest")
        env = dict(os.environ, DESTDIR=cls.dest)
        subprocess.run(["cmake", "--install", BUILD], env=env, check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
        cls.prefix = cls.dest + cache_value("CMAKE_INSTALL_PREFIX")
        # GNUInstallDirs puts the settings of the prefix /usr in /etc.
        sysconf = "/etc" if cache_value("CMAKE_INSTALL_PREFIX") == "/usr" \
            else cache_value("CMAKE_INSTALL_PREFIX") + "/etc"
        cls.sysconf = sysconf
        cls.zavo = os.path.join(cls.prefix, "bin", "zavo")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def run_zavo(self, *params, env=None, cwd=None):
        full = dict(os.environ)
        full.pop("COMSPEC", None)
        full.update(env or {})
        p = subprocess.run([self.zavo] + list(params), env=full, cwd=cwd or self.root,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=300)
        return p.returncode, p.stdout.decode().split("\n")[:-1], p.stderr.decode()

    def test_installed_files(self):
        found = set()
        for folder, _, files in os.walk(self.dest):
            for name in files:
                found.add(os.path.relpath(os.path.join(folder, name), self.dest))
        prefix = os.path.relpath(self.prefix, self.dest)
        sysconf = self.sysconf.lstrip("/")
        self.assertEqual({prefix + "/bin/zavo",
                          sysconf + "/zavo/zavo.ctl",
                          sysconf + "/zavo/archivers.ini",
                          prefix + "/share/man/man1/zavo.1.gz",
                          prefix + "/share/bash-completion/completions/zavo",
                          prefix + "/share/doc/zavo/README.md",
                          prefix + "/share/doc/zavo/changelog.gz",
                          prefix + "/share/doc/zavo/copyright"}, found)
        with open(os.path.join(self.dest, sysconf, "zavo", "archivers.ini"), "rb") as f:
            self.assertNotIn(b"\r", f.read())

    def test_runs_with_the_users_settings(self):
        config = os.path.join(self.root, "config")
        arc = os.path.join(self.root, "arc")
        os.makedirs(os.path.join(config, "zavo"))
        # Nothing beside the program and no user settings: every place is
        # named.
        code, lines, _ = self.run_zavo("*.*", env={"XDG_CONFIG_HOME": config})
        self.assertEqual(2, code)
        self.assertEqual(
            "config file [%s/bin/zavo.ctl] or [%s/zavo/zavo.ctl] or [%s/zavo/zavo.ctl]"
            " not found" % (self.prefix, config, self.sysconf), lines[3])

        # The installed settings, copied for the user, as the man page says.
        etc = os.path.join(self.dest, self.sysconf.lstrip("/"), "zavo")
        shutil.copy(os.path.join(etc, "archivers.ini"), os.path.join(config, "zavo"))
        with open(os.path.join(etc, "zavo.ctl")) as f:
            settings = f.read()
        with open(os.path.join(config, "zavo", "zavo.ctl"), "w") as f:
            f.write(settings.replace("Recurse no", "Recurse yes"))
        archives = Archives(os.path.join(self.root, "scratch"))
        archives.make("zip", os.path.join(arc, "a.zip"))
        archives.make("tar.gz", os.path.join(arc, "sub", "b.tar.gz"))
        code, lines, err = self.run_zavo("--summary", "%s/*.*" % arc,
                                         env={"XDG_CONFIG_HOME": config})
        self.assertEqual((0, BANNER), (code, lines[:3]), err)
        self.assertIn("[a.zip] -> [a.7z] done!", lines)
        self.assertIn("[b.tar.gz] -> [b.7z] done!", lines)
        self.assertRegex(err, r"summary: 2 converted, 0 failed, 0 left alone;")
        got = unpack_7z(os.path.join(arc, "a.7z"), os.path.join(self.root, "check"))
        self.assertEqual(with_folders(SAMPLE_FILES), got)
        self.assertEqual(["a.7z", "sub"], sorted(os.listdir(arc)))

    def test_man_page_and_completion(self):
        # Compressed as Debian wants it: no name or time in the header, so
        # that two builds give the same bytes.
        with open(os.path.join(self.prefix, "share", "man", "man1", "zavo.1.gz"),
                  "rb") as f:
            packed = f.read()
        self.assertEqual((b"\x1f\x8b", b"\0\0\0\0"), (packed[:2], packed[4:8]))
        self.assertFalse(packed[3] & 0x08, "file name stored")
        text = gzip.decompress(packed).decode()
        page = os.path.join(self.root, "zavo.1")
        with open(page, "w") as f:
            f.write(text)
        self.assertNotIn("@ZAVO_", text)
        self.assertIn(self.sysconf + "/zavo/zavo.ctl", text)
        for command in (["mandoc", "-T", "lint", "-W", "warning", page],
                        ["groff", "-ww", "-mdoc", "-z", page]):
            if shutil.which(command[0]) is None:
                continue
            p = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual((0, b""), (p.returncode, p.stdout), command)

        completion = os.path.join(self.prefix, "share", "bash-completion",
                                  "completions", "zavo")
        script = ('source "$1"; COMP_WORDS=(zavo --dr); COMP_CWORD=1; _zavo; '
                  'echo "${COMPREPLY[@]}"; COMP_WORDS=(zavo /); COMP_CWORD=1; '
                  '_zavo; echo "${COMPREPLY[@]:0:3}"')
        p = subprocess.run(["bash", "-c", script, "bash", completion],
                           stdout=subprocess.PIPE, check=True)
        self.assertEqual(["--dry-run", "/r /n /k"], p.stdout.decode().split("\n")[:2])


if __name__ == "__main__":
    unittest.main()
