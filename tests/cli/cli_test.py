#!/usr/bin/env python3
"""Command-line tests: the built flatcut run in a fresh folder per case, its exit code, standard
output, standard error and the files left behind checked byte for byte.

The same cases serve the native build and the Windows build, which runs under wine
(--emulator) and shows its paths in wine's form (Z:\\...). In expected texts {dir} stands for the
case folder's full path with its final separator, {sys} for an OS error detail
("[u]facility/code - text") and {rt} for a runtime-library error text: those two may differ
between systems, so only their shape is matched.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None

DESCRIPTOR = (
    "# Disk DescriptorFile\n"
    "version=1\n"
    "CID=1a2b3c4d\n"
    "parentCID=ffffffff\n"
    'createType="monolithicFlat"\n'
    "\n"
    "# Extent description\n"
    'RW 4194304 FLAT "disk-flat.vmdk" 0\n'
    "\n"
    "# The Disk Data Base\n"
    "#DDB\n"
    "\n"
    'ddb.adapterType = "lsilogic"\n'
    'ddb.geometry.cylinders = "4161"\n'
    'ddb.geometry.heads = "16"\n'
    'ddb.geometry.sectors = "63"\n'
    'ddb.virtualHWVersion = "4"\n'
)

WORKSTATION = (
    "# Disk DescriptorFile\r\n"
    "version=1\r\n"
    'encoding="windows-1252"\r\n'
    "CID=52b5c4a0\r\n"
    "parentCID=ffffffff\r\n"
    'isNativeSnapshot="no"\r\n'
    'createType="monolithicFlat"\r\n'
    "\r\n"
    "# Extent description\r\n"
    'RW 83886080 FLAT "Windows 10 x64-flat.vmdk" 0\r\n'
    "\r\n"
    "# The Disk Data Base \r\n"
    "#DDB\r\n"
    "\r\n"
    'ddb.adapterType = "lsilogic"\r\n'
    'ddb.deletable = "true"\r\n'
    'ddb.encoding = "windows-1252"\r\n'
    'ddb.geometry.cylinders = "5221"\r\n'
    'ddb.geometry.heads = "255"\r\n'
    'ddb.geometry.sectors = "63"\r\n'
    'ddb.longContentID = "0f4e1a2b3c4d5e6f708192a3b4c5d6e7"\r\n'
    'ddb.thinProvisioned = "1"\r\n'
    'ddb.toolsInstallType = "4"\r\n'
    'ddb.toolsVersion = "12352"\r\n'
    'ddb.uuid = "60 00 C2 9b 69 2f c9 76-74 c4 07 9a 10 1c 43 44"\r\n'
    'ddb.virtualHWVersion = "19"\r\n'
)

SYS = r"u?\d+/\d+(?: - [^\n]*[^ \n])?"
RT = r"[^\n()]+"


def windows():
    return bool(ARGS.emulator)


def usage_text():
    return ("\nflatcut %s\n\nUsage:\n\nflatcut [-t] <VD descriptor file>\n\n"
            "With -t option, only .new descriptor file is created, old files are unchanged.\n\n"
            % ARGS.version)


def platform_path(path):
    """A real folder's path as the tool under test shows it."""
    if windows():
        return "Z:" + path.replace("/", "\\")
    return path


def snapshot(folder):
    """Every file below folder with its bytes (directories as None)."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            full = os.path.join(root, name)
            rel = os.path.relpath(full, folder)
            if os.path.islink(full):
                found[rel] = ("link", os.readlink(full))
            elif os.path.isdir(full):
                found[rel] = None
            else:
                with open(full, "rb") as f:
                    found[rel] = f.read()
    return found


class ToolCase(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.realpath(tempfile.mkdtemp(prefix="flatcut-cli-"))
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.sep = "\\" if windows() else "/"
        self.shown_dir = platform_path(self.dir) + self.sep

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode("latin-1") if isinstance(data, str) else data)
        return path

    def run_tool(self, *args, stdin=b""):
        command = list(ARGS.emulator) + [ARGS.tool] + list(args)
        done = subprocess.run(command, cwd=self.dir, input=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        return done.returncode, done.stdout, done.stderr

    def expect_text(self, actual, template, what):
        """Matches bytes against a template: {dir}, {sys}, {rt} as above, the rest literal."""
        newline = "\r\n" if windows() else "\n"
        pattern = ""
        for piece in re.split(r"(\{dir\}|\{sys\}|\{rt\})", template):
            if piece == "{dir}":
                pattern += re.escape(self.shown_dir)
            elif piece == "{sys}":
                pattern += SYS
            elif piece == "{rt}":
                pattern += RT
            else:
                pattern += re.escape(piece.replace("\n", newline))
        text = actual.decode("latin-1")
        self.assertRegex(text, "\\A" + pattern + "\\Z", what)

    def check(self, args, code, out="", err="", unchanged=True, stdin=b""):
        before = snapshot(self.dir)
        rc, stdout, stderr = self.run_tool(*args, stdin=stdin)
        self.expect_text(stdout, out, "standard output")
        self.expect_text(stderr, err, "standard error")
        self.assertEqual(rc, code, "exit code")
        if unchanged:
            self.assertEqual(snapshot(self.dir), before, "files changed")
        return stdout, stderr


class CommandLine(ToolCase):
    def test_usage_and_arguments(self):
        self.write("disk.vmdk", DESCRIPTOR)
        cases = [
            ([], 16, usage_text(), ""),
            (["-t"], 18, "", "No descriptor file specification\n"),
            # Only the first argument is an option, and only in lower case.
            (["-T"], 3, "", 'Cannot open descriptor file "{dir}-T" (No such file or directory)\n'),
            (["-T", "disk.vmdk"], 3, "",
             'Cannot open descriptor file "{dir}-T" (No such file or directory)\n'),
            (["disk.vmdk", "-t"], 0, 'Desc file: "{dir}disk.vmdk"\n', ""),
            (["-t", "disk.vmdk", "ignored"], 0, 'Desc file: "{dir}disk.vmdk"\n', ""),
            (["missing.vmdk"], 3, "",
             'Cannot open descriptor file "{dir}missing.vmdk" (No such file or directory)\n'),
        ]
        for args, code, out, err in cases:
            with self.subTest(args=args):
                self.check(args, code, out, err)

    def test_full_path_is_folded(self):
        self.write("disk.vmdk", DESCRIPTOR)
        os.mkdir(os.path.join(self.dir, "sub"))
        for arg in ["sub/../disk.vmdk", "./sub/./../disk.vmdk", "sub//..//disk.vmdk",
                    os.path.join(self.dir, "disk.vmdk")]:
            with self.subTest(arg=arg):
                self.check([arg], 0, 'Desc file: "{dir}disk.vmdk"\n')

    def test_paths_that_do_not_fit(self):
        long_arg = "d" * 300
        short_arg = "e" * (258 - len(self.shown_dir))
        for arg in [long_arg, short_arg]:
            with self.subTest(length=len(arg)):
                self.check([arg], 3, "", 'Cannot get full path for "%s" ({sys})\n' % arg)
        # The text is the system's own for a name that is too long.
        _, err = self.check([long_arg], 3, "", 'Cannot get full path for "%s" ({sys})\n' % long_arg)
        self.assertIn(b"/206 - " if windows() else b"/36 - ", err)

    def test_descriptor_that_is_a_directory(self):
        os.mkdir(os.path.join(self.dir, "folder.vmdk"))
        self.check(["folder.vmdk"], 3, "", 'Cannot open descriptor file "{dir}folder.vmdk" ({rt})\n')


class LockMarker(ToolCase):
    def test_file_dir_and_link_markers(self):
        self.write("disk.vmdk", DESCRIPTOR)
        markers = [("file", lambda p: self.write(p, "")), ("dir", os.mkdir)]
        if not windows():
            markers.append(("file", lambda p: os.symlink("nowhere", p)))
        for kind, make in markers:
            with self.subTest(kind=kind, maker=make):
                marker = os.path.join(self.dir, "disk.vmdk.lck")
                make(marker)
                self.check(["-t", "disk.vmdk"], 3, 'Desc file: "{dir}disk.vmdk"\n',
                           'Disk is locked (%s "{dir}disk.vmdk.lck" exists)\n' % kind)
                if os.path.isdir(marker) and not os.path.islink(marker):
                    os.rmdir(marker)
                else:
                    os.remove(marker)

    def test_marker_of_another_disk_does_not_lock(self):
        self.write("disk.vmdk", DESCRIPTOR)
        self.write("other.vmdk.lck", "")
        self.write("disk.lck", "")
        self.check(["disk.vmdk"], 0, 'Desc file: "{dir}disk.vmdk"\n')


class Reader(ToolCase):
    def test_faults_end_with_one_line(self):
        def replaced(old, new):
            self.assertIn(old, DESCRIPTOR)
            return DESCRIPTOR.replace(old, new)

        cases = [
            (replaced("version=1\n", "version=1 # first\n"),
             "Line 2: extra chars after the value"),
            (replaced("CID=1a2b3c4d", "CID=0x1a2b3c4d"), "Line 3: invalid numeric parameter"),
            (replaced("RW 4194304 FLAT", "RW 4194304 SPARSE"),
             "Line 8 - only FLAT disks are supported"),
            (replaced("RW 4194304", "RW 4294967296"), "Line 8 - invalid disk file descriptor"),
            (replaced("RW 4194304", "RW -4194304"), "Line 8 - invalid disk file descriptor"),
            (replaced('"disk-flat.vmdk" 0', '"disk-flat.vmdk" 512'),
             "Line 8 - invalid disk file descriptor"),
            (replaced("#DDB", "ddb.geometry.biosHeads = \"255\""),
             'Line 11: unknown parameter "ddb.geometry.biosHeads"'),
            (replaced('"monolithicFlat"', '"monolithicSparse"'),
             "Only monolithic flat disks are supported"),
            (replaced('heads = "16"', 'heads = "256"'), "Error in geometry parameters"),
            (replaced('cylinders = "4161"', 'cylinders = "4162"'),
             "Geometry sectors greater than flat sectors"),
        ]
        for text, error in cases:
            with self.subTest(error=error):
                self.write("disk.vmdk", text)
                for mode in [["-t"], []]:
                    self.check(mode + ["disk.vmdk"], 6, 'Desc file: "{dir}disk.vmdk"\n',
                               error + "\n")

    def test_real_descriptors_are_accepted(self):
        self.write("ws.vmdk", WORKSTATION)
        self.check(["-t", "ws.vmdk"], 0, 'Desc file: "{dir}ws.vmdk"\n')

    @unittest.skipUnless(shutil.which("qemu-img"), "qemu-img is not installed")
    def test_descriptor_written_by_qemu_img(self):
        subprocess.run(["qemu-img", "create", "-q", "-f", "vmdk", "-o", "subformat=monolithicFlat",
                        "qemu.vmdk", "64M"], cwd=self.dir, check=True)
        self.check(["-t", "qemu.vmdk"], 0, 'Desc file: "{dir}qemu.vmdk"\n')


def setUpModule():
    # A running wine server keeps its helper processes off the pipes of each run (ctest stops it).
    if windows():
        subprocess.run(ARGS.emulator + ["--server-start"], check=False)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--emulator", default="",
                        help="comma-separated command that runs the Windows build")
    ARGS, rest = parser.parse_known_args()
    ARGS.emulator = [part for part in ARGS.emulator.split(",") if part]
    ARGS.tool = os.path.abspath(ARGS.tool)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
