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
import hashlib
import json
import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
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
            elif not os.path.isfile(full):
                found[rel] = "special"
            elif os.path.getsize(full) > 65536:
                # Extents are large and sparse: their size and first sector tell them apart.
                with open(full, "rb") as f:
                    found[rel] = ("extent", os.path.getsize(full), f.read(512))
            else:
                with open(full, "rb") as f:
                    found[rel] = f.read()
    return found


def mbr(entries, signature=b"\x55\xaa"):
    """A first sector with up to four (boot, system id, first sector, sectors) entries."""
    sector = bytearray(512)
    for i, entry in enumerate(entries):
        if entry is None:
            continue
        boot, system_id, first, count = entry
        offset = 0x1BE + 16 * i
        sector[offset] = boot
        sector[offset + 4] = system_id
        struct.pack_into("<II", sector, offset + 8, first, count)
    sector[510:512] = signature
    return bytes(sector)


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

    def make_disk(self, entries, sectors=4194304, descriptor=None, extent="disk-flat.vmdk",
                  name="disk.vmdk"):
        """A sparse flat extent of sectors × 512 bytes with the given MBR, and its descriptor."""
        path = self.write(extent, mbr(entries) if isinstance(entries, list) else entries)
        os.truncate(path, sectors * 512)
        self.write(name, DESCRIPTOR if descriptor is None else descriptor)
        return path

    def run_tool(self, *args, key=None, terminal=False):
        """Runs the tool; key, when given, is what the user types. Under wine the key needs a
        terminal; natively it comes through a pipe unless terminal is set."""
        command = list(ARGS.emulator) + [ARGS.tool] + list(args)
        if key is None or not (terminal or windows()):
            done = subprocess.run(command, cwd=self.dir, input=key or b"",
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
            return done.returncode, done.stdout, done.stderr
        master, slave = pty.openpty()
        try:
            # Typed ahead: the terminal keeps the key until the tool reads it.
            os.write(master, key)
            proc = subprocess.Popen(command, cwd=self.dir, stdin=slave, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
            out, err = proc.communicate(timeout=120)
            if terminal and not windows():
                attrs = termios.tcgetattr(slave)
                self.assertTrue(attrs[3] & termios.ECHO and attrs[3] & termios.ICANON,
                                "terminal not restored")
            return proc.returncode, out, err
        finally:
            os.close(master)
            os.close(slave)

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

    def check(self, args, code, out="", err="", unchanged=True, key=None, terminal=False):
        before = snapshot(self.dir)
        rc, stdout, stderr = self.run_tool(*args, key=key, terminal=terminal)
        self.expect_text(stdout, out, "standard output")
        self.expect_text(stderr, err, "standard error")
        self.assertEqual(rc, code, "exit code")
        if unchanged:
            self.assertEqual(snapshot(self.dir), before, "files changed")
        return stdout, stderr


PART = (0x80, 0x83, 2048, 2095104)  # the first GiB, less the first MiB

LISTING = (' 0: boot=y, sys=83,    2095104 secs (2048-2097151), 1 Gb, 1023 Mb\n'
           'Total sectors used by partitions: 2097152 (1 Gb, 1024 Mb)\n'
           'Number of cylinders: 4161 -> 2080\n'
           'Number of sectors to free:  2097152 (1 Gb, 1024 Mb)\n')
SCAN_OUT = 'Desc file: "{dir}disk.vmdk"\nDisk file: "{dir}disk-flat.vmdk"\nDisk partitions:\n'
PROMPT = "Disk file size will be set to 2097152 sectors (1 Gb, 1024 Mb)\nAre you sure? (Y/N) "

# The sample is already in the writer's layout: only the size and the cylinders change.
NEW_DESCRIPTOR = (DESCRIPTOR.replace("RW 4194304 FLAT", "RW 2097152 FLAT")
                  .replace('cylinders = "4161"', 'cylinders = "2080"'))


def text_file(text):
    """A descriptor as the tool writes it on this system: CR LF line ends on Windows."""
    return (text.replace("\n", "\r\n") if windows() else text).encode()


class CommandLine(ToolCase):
    def test_usage_and_arguments(self):
        self.make_disk([PART])
        cases = [
            ([], 16, usage_text(), ""),
            (["-t"], 18, "", "No descriptor file specification\n"),
            # Only the first argument is an option, and only in lower case.
            (["-T"], 3, "", 'Cannot open descriptor file "{dir}-T" (No such file or directory)\n'),
            (["-T", "disk.vmdk"], 3, "",
             'Cannot open descriptor file "{dir}-T" (No such file or directory)\n'),
            (["missing.vmdk"], 3, "",
             'Cannot open descriptor file "{dir}missing.vmdk" (No such file or directory)\n'),
        ]
        for args, code, out, err in cases:
            with self.subTest(args=args):
                self.check(args, code, out, err)
        # A trailing -t is ignored: the run asks, as in modify mode.
        self.check(["disk.vmdk", "-t"], 14, SCAN_OUT + LISTING, PROMPT + "n\n", key=b"n")

    def test_full_path_is_folded(self):
        self.write("disk.vmdk", DESCRIPTOR)
        os.mkdir(os.path.join(self.dir, "sub"))
        for arg in ["sub/../disk.vmdk", "./sub/./../disk.vmdk", "sub//..//disk.vmdk",
                    os.path.join(self.dir, "disk.vmdk")]:
            with self.subTest(arg=arg):
                self.check(["-t", arg], 4, 'Desc file: "{dir}disk.vmdk"\n',
                           'Cannot open disk file "{dir}disk-flat.vmdk" for reading ({sys})\n')

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
        self.make_disk([PART])
        markers = [("file", lambda p: self.write(p, "")), ("dir", os.mkdir)]
        if not windows():
            markers.append(("file", lambda p: os.symlink("nowhere", p)))
        for kind, make in markers:
            with self.subTest(kind=kind, maker=make):
                marker = os.path.join(self.dir, "disk.vmdk.lck")
                make(marker)
                for mode in [["-t"], []]:
                    self.check(mode + ["disk.vmdk"], 3, 'Desc file: "{dir}disk.vmdk"\n',
                               'Disk is locked (%s "{dir}disk.vmdk.lck" exists)\n' % kind)
                if os.path.isdir(marker) and not os.path.islink(marker):
                    os.rmdir(marker)
                else:
                    os.remove(marker)

    def test_marker_of_another_disk_does_not_lock(self):
        self.make_disk([PART])
        self.write("other.vmdk.lck", "")
        self.write("disk.lck", "")
        self.check(["disk.vmdk"], 14, SCAN_OUT + LISTING, PROMPT + "n\n", key=b"n")


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
        self.make_disk([PART])
        for text, error in cases:
            with self.subTest(error=error):
                self.write("disk.vmdk", text)
                for mode in [["-t"], []]:
                    self.check(mode + ["disk.vmdk"], 6, 'Desc file: "{dir}disk.vmdk"\n',
                               error + "\n")

    def test_workstation_descriptor_is_accepted(self):
        self.make_disk([PART], sectors=83886080, descriptor=WORKSTATION,
                       extent="Windows 10 x64-flat.vmdk", name="ws.vmdk")
        self.check(["-t", "ws.vmdk"], 0,
                   'Desc file: "{dir}ws.vmdk"\nDisk file: "{dir}Windows 10 x64-flat.vmdk"\n'
                   "Disk partitions:\n"
                   " 0: boot=y, sys=83,    2095104 secs (2048-2097151), 1 Gb, 1023 Mb\n"
                   "Total sectors used by partitions: 2097152 (1 Gb, 1024 Mb)\n"
                   "Number of cylinders: 5221 -> 130\n"
                   "Number of sectors to free:  81788928 (39 Gb, 39936 Mb)\n"
                   "New descriptor written to ws.vmdk.new, no old files altered\n",
                   unchanged=False)
        with open(os.path.join(self.dir, "ws.vmdk.new"), "rb") as f:
            written = f.read()
        # Every value comes back, in the fixed order, with the new size and cylinders.
        expected = (WORKSTATION.replace("\r\n", "\n")
                    .replace('encoding="windows-1252"', 'encoding = "windows-1252"')
                    .replace("RW 83886080", "RW 2097152")
                    .replace('cylinders = "5221"', 'cylinders = "130"')
                    .replace("# The Disk Data Base \n", "# The Disk Data Base\n"))
        self.assertEqual(written, text_file(expected))

    @unittest.skipUnless(shutil.which("qemu-img"), "qemu-img is not installed")
    def test_descriptor_written_by_qemu_img(self):
        subprocess.run(["qemu-img", "create", "-q", "-f", "vmdk", "-o", "subformat=monolithicFlat",
                        "qemu.vmdk", "64M"], cwd=self.dir, check=True)
        # Read to its end: the extent is all zeros, so the scan finds no table.
        self.check(["-t", "qemu.vmdk"], 8,
                   'Desc file: "{dir}qemu.vmdk"\nDisk file: "{dir}qemu-flat.vmdk"\n',
                   "No partition table\n")


class Scan(ToolCase):
    def test_refusals(self):
        ext = (0x00, 0x05, 2097152, 1048576)
        cases = [
            ([PART], dict(sectors=2097152), 1, LISTING.split("Number of")[0], "No space to reclaim",
             DESCRIPTOR.replace("RW 4194304", "RW 2097152").replace('"4161"', '"2080"')),
            ([(0, 0x83, 2048, 2095103)], dict(sectors=2097152), 1,
             " 0: boot=n, sys=83,    2095103 secs (2048-2097150), 1 Gb, 1023 Mb\n"
             "Total sectors used by partitions: 2097151 (1 Gb, 1024 Mb)\n",
             "No space to reclaim",
             DESCRIPTOR.replace("RW 4194304", "RW 2097152").replace('"4161"', '"2080"')),
            (mbr([PART], signature=b"\x55\xab"), {}, 8, None, "No partition table", None),
            (b"\x55\xaa", {}, 8, None, "No partition table", None),
            ([None, None, None, None], {}, 8, "", "No partitions", None),
            ([PART, (0, 0x83, 2097152, 0)], {}, 8, LISTING.split("Total")[0],
             "Zero-sized partition 1", None),
            ([(0, 0xEE, 1, 4194303)], {}, 8,
             " 0: boot=n, sys=EE,    4194303 secs (1-4194303), 2 Gb, 2048 Mb\n",
             "GPT disks are not supported", None),
            ([PART, ext, (1, 0x07, 4194304, 2048)], {}, 8,
             LISTING.split("Total")[0] +
             " 1: boot=n, sys=05,    1048576 secs (2097152-3145727), 1 Gb, 512 Mb\n"
             " 2: boot=y, sys=07,       2048 secs (4194304-4196351), 0 Gb, 1 Mb\n"
             "Total sectors used by partitions: 4196352 (2 Gb, 2049 Mb)\n",
             "Space used by partitions is greater than disk size", None),
            ([(0, 0x83, 4294967295, 2)], {}, 8,
             " 0: boot=n, sys=83,          2 secs (4294967295-4294967296), 0 Gb, 0 Mb\n"
             "Total sectors used by partitions: 4294967297 (2048 Gb, 2097152 Mb)\n",
             "Space used by partitions is greater than disk size", None),
            ([(0, 0x83, 63, 1985)], {}, 8,
             " 0: boot=n, sys=83,       1985 secs (63-2047), 0 Gb, 1 Mb\n"
             "Total sectors used by partitions: 2048 (0 Gb, 1 Mb)\n",
             "Computed number of cylinders is zero",
             DESCRIPTOR.replace('heads = "16"', 'heads = "255"').replace('"4161"', '"261"')),
        ]
        for entries, disk, code, listing, error, descriptor in cases:
            with self.subTest(error=error, listing=listing):
                self.make_disk(entries, descriptor=descriptor, **disk)
                out = 'Desc file: "{dir}disk.vmdk"\nDisk file: "{dir}disk-flat.vmdk"\n'
                if listing is not None:
                    out += "Disk partitions:\n" + listing
                for mode in [["-t"], []]:
                    self.check(mode + ["disk.vmdk"], code, out, error + "\n")

    def test_extent_that_cannot_be_read(self):
        self.write("disk.vmdk", DESCRIPTOR)
        cases = [("missing", None), ("a directory", os.mkdir)]
        if not windows():
            cases.append(("a FIFO", os.mkfifo))
        for what, make in cases:
            with self.subTest(extent=what):
                path = os.path.join(self.dir, "disk-flat.vmdk")
                if make:
                    make(path)
                self.check(["-t", "disk.vmdk"], 4, 'Desc file: "{dir}disk.vmdk"\n',
                           'Cannot open disk file "{dir}disk-flat.vmdk" for reading ({sys})\n')
                if make:
                    os.rmdir(path) if os.path.isdir(path) else os.remove(path)
        # No extent line: the name is empty and the descriptor's folder is no file.
        self.write("bare.vmdk", DESCRIPTOR.replace('RW 4194304 FLAT "disk-flat.vmdk" 0\n', "")
                   .replace('"4161"', '"1"'))
        self.check(["-t", "bare.vmdk"], 4, 'Desc file: "{dir}bare.vmdk"\n',
                   'Cannot open disk file "{dir}" for reading ({sys})\n')

    def test_extent_names_with_folders(self):
        os.mkdir(os.path.join(self.dir, "sub"))
        os.mkdir(os.path.join(self.dir, "vm"))
        # A relative name with a folder lies beside the descriptor, not in the current folder.
        self.make_disk([PART], extent="vm/sub/disk-flat.vmdk", name="vm/disk.vmdk",
                       descriptor=DESCRIPTOR.replace('"disk-flat.vmdk"', '"sub%sdisk-flat.vmdk"'
                                                     % ("\\" if windows() else "/")))
        self.make_disk([(0, 0x83, 2048, 2048)], extent="sub/disk-flat.vmdk", name="decoy.vmdk")
        sep = self.sep
        self.check(["-t", "vm/disk.vmdk"], 0,
                   'Desc file: "{dir}vm%sdisk.vmdk"\nDisk file: "{dir}vm%ssub%sdisk-flat.vmdk"\n'
                   % (sep, sep, sep) + "Disk partitions:\n" + LISTING +
                   "New descriptor written to vm/disk.vmdk.new, no old files altered\n",
                   unchanged=False)
        os.remove(os.path.join(self.dir, "vm", "disk.vmdk.new"))
        # An absolute name is used as it stands.
        absolute = platform_path(os.path.join(self.dir, "vm", "sub", "disk-flat.vmdk"))
        self.write("abs.vmdk", DESCRIPTOR.replace('"disk-flat.vmdk"', '"%s"' % absolute))
        self.check(["-t", "abs.vmdk"], 0,
                   'Desc file: "{dir}abs.vmdk"\nDisk file: "%s"\n' % absolute
                   + "Disk partitions:\n" + LISTING +
                   "New descriptor written to abs.vmdk.new, no old files altered\n",
                   unchanged=False)

    def test_extent_path_that_does_not_fit(self):
        name = "x" * 234  # the longest that fits the line: folder and name pass 259
        self.write("disk.vmdk", DESCRIPTOR.replace('"disk-flat.vmdk"', '"%s"' % name))
        _, err = self.check(["-t", "disk.vmdk"], 4, 'Desc file: "{dir}disk.vmdk"\n',
                            'Cannot open disk file "%s" for reading ({sys})\n' % name)
        self.assertIn(b"/206 - " if windows() else b"/36 - ", err)

    def test_short_extent_has_no_table(self):
        self.write("disk.vmdk", DESCRIPTOR)
        self.write("disk-flat.vmdk", mbr([PART])[:300])
        self.check(["-t", "disk.vmdk"], 8, SCAN_OUT.replace("Disk partitions:\n", ""),
                   "No partition table\n")


class Shrink(ToolCase):
    def setUp(self):
        super().setUp()
        self.extent = self.make_disk([PART])
        self.old = DESCRIPTOR.encode()
        self.first_sector = mbr([PART])

    def expect_files(self, descriptor, extent_sectors, **others):
        expected = {"disk.vmdk": descriptor,
                    "disk-flat.vmdk": ("extent", extent_sectors * 512, self.first_sector)}
        expected.update({name.replace("_", "."): data for name, data in others.items()})
        self.assertEqual(snapshot(self.dir), expected)

    def test_test_mode_writes_only_the_new_file(self):
        self.check(["-t", "disk.vmdk"], 0, SCAN_OUT + LISTING +
                   "New descriptor written to disk.vmdk.new, no old files altered\n",
                   unchanged=False)
        self.expect_files(self.old, 4194304, disk_vmdk_new=text_file(NEW_DESCRIPTOR))

    def test_confirmed_run(self):
        for key in [b"y", b"Y"]:
            with self.subTest(key=key):
                self.make_disk([PART])
                for name in ["disk.vmdk.bak"]:
                    path = os.path.join(self.dir, name)
                    if os.path.exists(path):
                        os.remove(path)
                self.check(["disk.vmdk"], 0, SCAN_OUT + LISTING +
                           "Operation completed successfully, old descriptor renamed to "
                           "disk.vmdk.bak\n", PROMPT + key.decode() + "\n", unchanged=False,
                           key=key)
                self.expect_files(text_file(NEW_DESCRIPTOR), 2097152, disk_vmdk_bak=self.old)
                # The installed descriptor reads back: there is nothing more to gain.
                self.check(["-t", "disk.vmdk"], 1,
                           SCAN_OUT + LISTING.split("Number of")[0], "No space to reclaim\n")

    def test_declined_run_changes_nothing(self):
        keys = [b"n", b"N", b"q"]
        if not windows():
            # Through wine's terminal a typed-ahead Enter arrives as a line feed, and Escape
            # waits for the rest of an escape sequence.
            keys += [b"\r", b"\x1b", b""]  # b"": end of input
        for key in keys:
            with self.subTest(key=key):
                echo = key.decode() if key else ""
                self.check(["disk.vmdk"], 14, SCAN_OUT + LISTING, PROMPT + echo + "\n", key=key)

    def test_key_from_a_terminal(self):
        if windows():
            self.skipTest("the terminal modes are the POSIX backend's")
        self.check(["disk.vmdk"], 14, SCAN_OUT + LISTING, PROMPT + "n\n", key=b"n", terminal=True)
        self.check(["disk.vmdk"], 0, SCAN_OUT + LISTING +
                   "Operation completed successfully, old descriptor renamed to disk.vmdk.bak\n",
                   PROMPT + "y\n", unchanged=False, key=b"y", terminal=True)
        self.expect_files(text_file(NEW_DESCRIPTOR), 2097152, disk_vmdk_bak=self.old)

    def test_leftover_new_file_blocks(self):
        self.write("disk.vmdk.new", "left over\n")
        self.check(["-t", "disk.vmdk"], 9, SCAN_OUT + LISTING,
                   'New desc file "disk.vmdk.new" already exists\n')
        self.check(["disk.vmdk"], 9, SCAN_OUT + LISTING,
                   PROMPT + 'y\nNew desc file "disk.vmdk.new" already exists\n', key=b"y")
        self.check(["disk.vmdk"], 14, SCAN_OUT + LISTING, PROMPT + "n\n", key=b"n")

    def test_leftover_bak_file_stops_the_commit(self):
        self.write("disk.vmdk.bak", "older\n")
        self.check(["disk.vmdk"], 10, SCAN_OUT + LISTING,
                   PROMPT + 'y\nCannot rename "disk.vmdk" to "disk.vmdk.bak" ({sys})\n',
                   unchanged=False, key=b"y")
        self.expect_files(self.old, 4194304, disk_vmdk_bak=b"older\n",
                          disk_vmdk_new=text_file(NEW_DESCRIPTOR))
        # The next run asks again, then stops at the .new file.
        self.check(["disk.vmdk"], 9, SCAN_OUT + LISTING,
                   PROMPT + 'y\nNew desc file "disk.vmdk.new" already exists\n', key=b"y")
        self.check(["disk.vmdk"], 14, SCAN_OUT + LISTING, PROMPT + "n\n", key=b"n")

    def test_extent_held_open_by_another_process(self):
        holder = subprocess.Popen(list(ARGS.emulator) + [ARGS.holder, "disk-flat.vmdk"],
                                  cwd=self.dir, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"ready")
            self.check(["disk.vmdk"], 17, SCAN_OUT + LISTING,
                       PROMPT + 'y\nCannot open disk file "{dir}disk-flat.vmdk" for resizing '
                       "({sys})\n", unchanged=False, key=b"y")
        finally:
            holder.stdin.close()
            holder.wait(timeout=60)
        # Both renames are done; the extent keeps its size.
        self.expect_files(text_file(NEW_DESCRIPTOR), 4194304, disk_vmdk_bak=self.old)


def sfdisk(path, script):
    subprocess.run(["sfdisk", "-q", path], input=script.encode(), check=True,
                   stdout=subprocess.DEVNULL)


def partition_sums(path):
    """Checksums of every partition's bytes, as sfdisk reads the table."""
    done = subprocess.run(["sfdisk", "--json", path], check=True, stdout=subprocess.PIPE)
    sums = []
    for part in json.loads(done.stdout)["partitiontable"]["partitions"]:
        digest = hashlib.sha256()
        with open(path, "rb") as f:
            f.seek(part["start"] * 512)
            left = part["size"] * 512
            while left:
                chunk = f.read(min(left, 1 << 20))
                digest.update(chunk)
                left -= len(chunk)
        sums.append((part["start"], part["size"], part["type"], digest.hexdigest()))
    return sums


@unittest.skipUnless(shutil.which("qemu-img") and shutil.which("sfdisk"),
                     "qemu-img or sfdisk is not installed")
class Peers(ToolCase):
    LAYOUTS = {
        "primary": "label: dos\nstart=2048, size=100MiB, type=83, bootable\n"
                   "size=50MiB, type=7\nsize=10001, type=c\n",
        # The extended partition counts with its own end, past its last logical one.
        "logical": "label: dos\nx1 : start=2048, size=64MiB, type=83\nx2 : size=300MiB, type=5\n"
                   "x5 : size=100MiB, type=83\nx6 : size=30MiB, type=82\n",
    }

    def test_qemu_made_disk_partitioned_by_sfdisk(self):
        for layout, script in self.LAYOUTS.items():
            with self.subTest(layout=layout):
                for name in os.listdir(self.dir):
                    os.remove(os.path.join(self.dir, name))
                subprocess.run(["qemu-img", "create", "-q", "-f", "vmdk", "-o",
                                "subformat=monolithicFlat", "q.vmdk", "1G"], cwd=self.dir,
                               check=True)
                extent = os.path.join(self.dir, "q-flat.vmdk")
                sfdisk(extent, script)
                with open(extent, "r+b") as f:  # data in every partition but the extended one
                    for start, _, kind, _ in partition_sums(extent):
                        if kind != "5":
                            f.seek(start * 512)
                            f.write(os.urandom(4096))
                before = partition_sums(extent)
                rc, out, err = self.run_tool("q.vmdk", key=b"y")
                self.assertEqual(rc, 0, err)
                new_sectors = int(re.search(rb"set to (\d+) sectors", err).group(1))
                self.assertEqual(new_sectors % 2048, 0)
                self.assertEqual(os.path.getsize(extent), new_sectors * 512)
                self.assertLess(new_sectors, 2097152)
                self.assertEqual(partition_sums(extent), before)
                info = subprocess.run(["qemu-img", "info", "--output=json", "q.vmdk"],
                                      cwd=self.dir, check=True, stdout=subprocess.PIPE)
                self.assertEqual(json.loads(info.stdout)["virtual-size"], new_sectors * 512)
                # A second run reads what the first one wrote.
                rc, out, err = self.run_tool("-t", "q.vmdk")
                self.assertEqual((rc, err.strip()), (1, b"No space to reclaim"))


def setUpModule():
    # A running wine server keeps its helper processes off the pipes of each run (ctest stops it).
    if windows():
        subprocess.run(ARGS.emulator + ["--server-start"], check=False)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--holder", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--emulator", default="",
                        help="comma-separated command that runs the Windows build")
    ARGS, rest = parser.parse_known_args()
    ARGS.emulator = [part for part in ARGS.emulator.split(",") if part]
    ARGS.tool = os.path.abspath(ARGS.tool)
    ARGS.holder = os.path.abspath(ARGS.holder)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
