#!/usr/bin/env python3
"""Tests of the release packages as a user gets them: the .deb installed with dpkg into a scratch
root, the .tar.gz unpacked, the .zip unpacked and its program run under wine. Run after the
package workflows, from the source folder: python3 tests/package/package_test.py.

The version comes from the builds' CMake caches, so a package name or banner that does not carry
the project's version fails here.
"""

import argparse
import os
import re
import shutil
import subprocess
import tarfile
import tempfile
import unittest
import zipfile

ARGS = None
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def cached_version(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_PROJECT_VERSION:STATIC="):
                return line.split("=", 1)[1].strip()
    raise AssertionError("no project version in %s" % build)


def usage_text(version):
    return ("\nflatcut %s\n\nUsage:\n\nflatcut [-t] <VD descriptor file>\n\n"
            "With -t option, only .new descriptor file is created, old files are unchanged.\n\n"
            % version)


def readme_bytes():
    with open(os.path.join(SOURCE, "README.md"), "rb") as f:
        return f.read()


def readme_exit_codes():
    """The README's exit code table as {code: meaning}, without its Markdown marks."""
    table = {}
    for line in readme_bytes().decode().splitlines():
        match = re.match(r"\|\s*(\d+)\s*\|\s*(.*?)\s*\|$", line)
        if match:
            table[int(match.group(1))] = match.group(2).replace("`", "")
    return table


def render_page(path):
    """The page as `man -l` shows it, wide enough that no entry wraps; with the warnings."""
    env = dict(os.environ, LC_ALL="C", MANWIDTH="200")
    done = subprocess.run(["man", "--warnings=w", "-l", path], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def page_sections(text):
    sections = {}
    name = None
    for line in text.splitlines():
        if line and not line[0].isspace():
            name = line.strip()
            sections[name] = []
        elif name:
            sections[name].append(line)
    return sections


def page_exit_codes(lines):
    table = {}
    code = None
    for line in lines:
        match = re.match(r"\s+(\d+)\s{2,}(\S.*)", line)
        if match:
            code = int(match.group(1))
            table[code] = match.group(2)
        elif line.strip() and code is not None:
            table[code] += " " + line.strip()
    return {code: " ".join(text.split()) for code, text in table.items()}


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.version = cached_version(ARGS.native)
        cls.arch = subprocess.run(["dpkg", "--print-architecture"], check=True,
                                  stdout=subprocess.PIPE).stdout.decode().strip()
        cls.names = {
            "deb": "flatcut_%s_%s.deb" % (cls.version, cls.arch),
            "tgz": "flatcut-%s-Linux.tar.gz" % cls.version,
            "zip": "flatcut-%s-win64.zip" % cls.version,
        }

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="flatcut-package-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def package(self, kind):
        path = os.path.join(ARGS.packages, self.names[kind])
        self.assertTrue(os.path.isfile(path), "missing package " + path)
        return path

    def test_one_version_everywhere(self):
        self.assertRegex(self.version, r"^\d+\.\d+\.\d+$")
        self.assertEqual(cached_version(ARGS.windows), self.version)
        for kind in self.names:
            with self.subTest(kind=kind):
                self.package(kind)

    def test_deb_metadata(self):
        deb = self.package("deb")
        fields = {}
        for field in ["Package", "Version", "Architecture", "Maintainer", "Section", "Priority",
                      "Depends", "Description"]:
            done = subprocess.run(["dpkg-deb", "-f", deb, field], check=True,
                                  stdout=subprocess.PIPE)
            fields[field] = done.stdout.decode().rstrip("\n")
        self.assertEqual(fields["Package"], "flatcut")
        self.assertEqual(fields["Version"], self.version)
        self.assertEqual(fields["Architecture"], self.arch)
        self.assertRegex(fields["Maintainer"], r"^[^<>]+ <[^<>@\s]+@[^<>@\s]+>$")
        self.assertEqual(fields["Section"], "utils")
        self.assertEqual(fields["Priority"], "optional")
        # Computed from the binary: at least the C library, each with a lowest version.
        self.assertRegex(fields["Depends"], r"(^|, )libc6 \(>= [\d.]+\)")
        synopsis, *body = fields["Description"].split("\n")
        self.assertTrue(synopsis and len(synopsis) < 80, synopsis)
        self.assertTrue(body, "no long description")
        for line in body:
            self.assertTrue(line.startswith(" ") and len(line) < 80, repr(line))

    def install_deb(self, root):
        """The package installed by dpkg into a scratch root whose database knows only the
        host's packages that it depends on, so that dpkg checks those dependencies for real."""
        admin = os.path.join(root, "var", "lib", "dpkg")
        for sub in ["info", "updates", "triggers"]:
            os.makedirs(os.path.join(admin, sub))
        depends = subprocess.run(["dpkg-deb", "-f", self.package("deb"), "Depends"], check=True,
                                 stdout=subprocess.PIPE).stdout.decode()
        status = ""
        for name in sorted({part.split()[0].split(":")[0] for part in re.split(r"[,|]", depends)}):
            query = subprocess.run(["dpkg-query", "-s", name], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
            if query.returncode != 0:
                continue  # an alternative not installed here; dpkg judges the rest
            stanza = query.stdout.decode()
            status += stanza.rstrip("\n") + "\n\n"
            arch = re.search(r"^Architecture: (\S+)", stanza, re.M).group(1)
            same = re.search(r"^Multi-Arch: same$", stanza, re.M)
            open(os.path.join(admin, "info", name + (":" + arch if same else "") + ".list"),
                 "w").close()
        with open(os.path.join(admin, "status"), "w") as f:
            f.write(status)
        # The path includes undo any path-exclude a slimmed system sets for documentation.
        done = subprocess.run(["dpkg", "--root=" + root, "--force-not-root",
                               "--path-include=/usr/share/man/*",
                               "--path-include=/usr/share/doc/flatcut/*",
                               "-i", self.package("deb")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout.decode())
        self.assertNotIn(b"warning", done.stdout)
        return os.path.join(root, "usr")

    def unpack_tgz(self, folder):
        top = "flatcut-%s-Linux" % self.version
        with tarfile.open(self.package("tgz")) as tar:
            for member in tar.getmembers():
                self.assertTrue(member.name == top or member.name.startswith(top + "/"),
                                member.name)
        os.makedirs(folder)
        subprocess.run(["tar", "-xzf", self.package("tgz"), "-C", folder], check=True, timeout=60)
        return os.path.join(folder, top)

    def test_linux_packages_install_a_working_tool(self):
        for kind, unpack in [("deb", self.install_deb), ("tgz", self.unpack_tgz)]:
            with self.subTest(kind=kind):
                prefix = unpack(os.path.join(self.tmp, kind))
                found = sorted(os.path.relpath(os.path.join(folder, name), prefix)
                               for folder, _, files in os.walk(prefix) for name in files)
                self.assertEqual(found, ["bin/flatcut", "share/doc/flatcut/README.md",
                                         "share/man/man1/flatcut.1"])
                tool = os.path.join(prefix, "bin", "flatcut")
                self.assertEqual(os.stat(tool).st_mode & 0o777, 0o755)
                done = subprocess.run([tool], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=60)
                self.assertEqual((done.returncode, done.stdout.decode(), done.stderr),
                                 (16, usage_text(self.version), b""))
                with open(os.path.join(prefix, "share", "doc", "flatcut", "README.md"), "rb") as f:
                    self.assertEqual(f.read(), readme_bytes())
                self.check_page(os.path.join(prefix, "share", "man", "man1", "flatcut.1"))

    def check_page(self, page):
        lint = subprocess.run(["groff", "-ww", "-man", "-z", page], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((lint.returncode, lint.stderr.decode()), (0, ""))
        rc, text, warnings = render_page(page)
        self.assertEqual((rc, warnings), (0, ""))
        sections = page_sections(text)
        for name in ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "EXIT STATUS",
                     "SAFETY", "EXAMPLES"]:
            self.assertIn(name, sections)
        self.assertRegex(text.splitlines()[-1], r"^flatcut %s\s" % re.escape(self.version))
        # The table a user reads in the page is the README's, code for code and word for word.
        self.assertEqual(page_exit_codes(sections["EXIT STATUS"]), readme_exit_codes())

    def test_zip_holds_the_program_and_a_crlf_readme(self):
        with zipfile.ZipFile(self.package("zip")) as archive:
            self.assertEqual(sorted(archive.namelist()), ["README.txt", "flatcut.exe"])
            readme = archive.read("README.txt")
            archive.extract("flatcut.exe", self.tmp)
        self.assertNotRegex(readme, rb"[^\r]\n")
        self.assertEqual(readme, readme_bytes().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))
        emulator = [os.path.join(SOURCE, "cmake", "wine-run"),
                    os.path.join(ARGS.windows, "wineprefix")]
        # A running wine server keeps its helper processes off the pipes of the run.
        subprocess.run(emulator + ["--server-start"], check=False, timeout=300)
        self.addCleanup(subprocess.run, emulator + ["--server-stop"], check=False, timeout=300)
        done = subprocess.run(emulator + [os.path.join(self.tmp, "flatcut.exe")],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        self.assertEqual((done.returncode, done.stdout.decode(), done.stderr),
                         (16, usage_text(self.version).replace("\n", "\r\n"), b""))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--packages", default=os.path.join(SOURCE, "build", "packages"))
    parser.add_argument("--native", default=os.path.join(SOURCE, "build", "native"),
                        help="the native build folder")
    parser.add_argument("--windows", default=os.path.join(SOURCE, "build", "windows"),
                        help="the Windows build folder, with its wine prefix")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[__file__] + rest, verbosity=2)


if __name__ == "__main__":
    main()
