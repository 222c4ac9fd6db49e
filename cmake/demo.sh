#!/bin/bash
# The demo: a sample disk as VMware writes one (a sparse 2 GiB flat extent whose one partition
# uses the first GiB), then a test-mode run and a confirmed run of flatcut on it.
# demo.sh FLATCUT WORK_FOLDER
set -euo pipefail
tool=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"

truncate -s 2G sample-flat.vmdk
# MBR entry 0: bootable, NTFS, from sector 2048 for 2095104 sectors; then the signature.
printf '\x80\x20\x21\x00\x07\xfe\xff\xff\x00\x08\x00\x00\x00\xf8\x1f\x00' |
    dd of=sample-flat.vmdk bs=1 seek=446 conv=notrunc status=none
printf '\x55\xaa' | dd of=sample-flat.vmdk bs=1 seek=510 conv=notrunc status=none
printf '%s\r\n' \
    '# Disk DescriptorFile' \
    'version=1' \
    'encoding="windows-1252"' \
    'CID=52b5c4a0' \
    'parentCID=ffffffff' \
    'isNativeSnapshot="no"' \
    'createType="monolithicFlat"' \
    '' \
    '# Extent description' \
    'RW 4194304 FLAT "sample-flat.vmdk" 0' \
    '' \
    '# The Disk Data Base' \
    '#DDB' \
    '' \
    'ddb.adapterType = "lsilogic"' \
    'ddb.encoding = "windows-1252"' \
    'ddb.geometry.cylinders = "261"' \
    'ddb.geometry.heads = "255"' \
    'ddb.geometry.sectors = "63"' \
    'ddb.longContentID = "0f4e1a2b3c4d5e6f708192a3b4c5d6e7"' \
    'ddb.uuid = "60 00 c2 9b 69 2f c9 76-74 c4 07 9a 10 1c 43 44"' \
    'ddb.virtualHWVersion = "19"' >sample.vmdk

show() {
    echo "== $1"
    ls -l --time-style=+ "$work" | tail -n +2
    echo
}

show "the sample disk in $work"
echo "== flatcut -t sample.vmdk"
"$tool" -t sample.vmdk
echo
echo "== sample.vmdk.new"
cat sample.vmdk.new
echo
rm sample.vmdk.new
echo "== flatcut sample.vmdk, answered with y"
printf y | "$tool" sample.vmdk
echo
show "afterwards"
