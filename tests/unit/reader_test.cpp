#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "descriptor/descriptor.h"
#include "platform/platform.h"

namespace {

const char* const HEADER =
    "# Disk DescriptorFile\n"
    "version=1\n"
    "CID=fffffffe\n"
    "parentCID=ffffffff\n"
    "createType=\"monolithicFlat\"\n";
const char* const EXTENT = "RW 4194304 FLAT \"disk-flat.vmdk\" 0\n";
const char* const GEOMETRY =
    "ddb.geometry.cylinders = \"4161\"\n"
    "ddb.geometry.heads = \"16\"\n"
    "ddb.geometry.sectors = \"63\"\n";

std::string valid(const std::string& extra = "") {
    return std::string(HEADER) + EXTENT + GEOMETRY + extra;
}

struct ReadResult {
    int code;
    std::string error;
    DescriptorRecord record;
};

// The text goes to a file byte for byte and comes back through the platform's text stream.
ReadResult readText(const std::string& text) {
    const char* path = "reader_test.vmdk";
    FILE* out = fopen(path, "wb");
    fwrite(text.data(), 1, text.size(), out);
    fclose(out);
    ReadResult result;
    FILE* in = openTextForReading(path);
    EXPECT_NE(in, nullptr);
    testing::internal::CaptureStderr();
    result.code = readDescriptor(in, &result.record);
    result.error = testing::internal::GetCapturedStderr();
    closeText(in);
    remove(path);
    return result;
}

TEST(ReadDescriptor, AcceptsAPlainDescriptor) {
    ReadResult r = readText(valid());
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.record.version, 1u);
    EXPECT_EQ(r.record.cid, 0xFFFFFFFEu);
    EXPECT_EQ(r.record.parentCid, ABSENT);
    EXPECT_STREQ(r.record.createType, "monolithicFlat");
    EXPECT_EQ(r.record.extentSectors, 4194304u);
    EXPECT_STREQ(r.record.extentFileName, "disk-flat.vmdk");
    EXPECT_EQ(r.record.cylinders, 4161u);
    EXPECT_EQ(r.record.heads, 16u);
    EXPECT_EQ(r.record.sectorsPerTrack, 63u);
    EXPECT_EQ(r.record.deletable, ABSENT);
    EXPECT_STREQ(r.record.adapterType, "");
}

TEST(ReadDescriptor, WorkstationStyleWithCrLfAndComments) {
    const std::string text =
        "# Disk DescriptorFile\r\n"
        "version=1\r\n"
        "encoding=\"windows-1252\"\r\n"
        "CID=52b5c4a0\r\n"
        "parentCID=ffffffff\r\n"
        "isNativeSnapshot=\"no\"\r\n"
        "createType=\"monolithicFlat\"\r\n"
        "\r\n"
        "# Extent description\r\n"
        "RW 83886080 FLAT \"Windows 10 x64-flat.vmdk\" 0\r\n"
        "\r\n"
        "# The Disk Data Base \r\n"
        "#DDB\r\n"
        "\r\n"
        "ddb.adapterType = \"lsilogic\"\r\n"
        "ddb.deletable = \"true\"\r\n"
        "ddb.encoding = \"windows-1252\"\r\n"
        "ddb.geometry.cylinders = \"5221\"\r\n"
        "ddb.geometry.heads = \"255\"\r\n"
        "ddb.geometry.sectors = \"63\"\r\n"
        "ddb.longContentID = \"0f4e1a2b3c4d5e6f708192a3b4c5d6e7\"\r\n"
        "ddb.thinProvisioned = \"1\"\r\n"
        "ddb.toolsInstallType = \"4\"\r\n"
        "ddb.toolsVersion = \"12352\"\r\n"
        "ddb.uuid = \"60 00 C2 9b 69 2f c9 76-74 c4 07 9a 10 1c 43 44\"\r\n"
        "ddb.virtualHWVersion = \"19\"\r\n";
    ReadResult r = readText(text);
    ASSERT_EQ(r.code, 0) << r.error;
    EXPECT_STREQ(r.record.encoding, "windows-1252");
    EXPECT_STREQ(r.record.isNativeSnapshot, "no");
    EXPECT_STREQ(r.record.extentFileName, "Windows 10 x64-flat.vmdk");
    EXPECT_STREQ(r.record.adapterType, "lsilogic");
    EXPECT_EQ(r.record.deletable, 1u);
    EXPECT_STREQ(r.record.ddbEncoding, "windows-1252");
    EXPECT_STREQ(r.record.longContentId, "0f4e1a2b3c4d5e6f708192a3b4c5d6e7");
    EXPECT_EQ(r.record.thinProvisioned, 1u);
    EXPECT_EQ(r.record.toolsInstallType, 4u);
    EXPECT_EQ(r.record.toolsVersion, 12352u);
    EXPECT_STREQ(r.record.uuid, "60 00 C2 9b 69 2f c9 76-74 c4 07 9a 10 1c 43 44");
    EXPECT_EQ(r.record.virtualHwVersion, 19u);
    EXPECT_EQ(r.record.cylinders, 5221u);
}

TEST(ReadDescriptor, ValueForms) {
    struct Case {
        const char* line;
        const char* adapter;
        uint32_t deletable;
        uint32_t cid;
    };
    const Case cases[] = {
        {"ddb.adapterType  =  \"lsilogic\"\n", "lsilogic", ABSENT, 0xFFFFFFFEu},
        {"ddb.adapterType=lsilogic\n", "lsilogic", ABSENT, 0xFFFFFFFEu},
        {"ddb.adapterType=lsilogic  \n", "lsilogic  ", ABSENT, 0xFFFFFFFEu},
        {"ddb.adapterType=ide # comment\n", "ide # comment", ABSENT, 0xFFFFFFFEu},
        {"\t ddb.adapterType = \"\"\n", "", ABSENT, 0xFFFFFFFEu},
        {"ddb.deletable = \"TRUE\"\n", "", 1, 0xFFFFFFFEu},
        {"DDB.DELETABLE=false\n", "", 0, 0xFFFFFFFEu},
        {"cid = \"0000abcd\"\n", "", ABSENT, 0xABCDu},
        {"CID=\t1f  \n", "", ABSENT, 0x1Fu},
        {"   # indented comment\n \t \n", "", ABSENT, 0xFFFFFFFEu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ReadResult r = readText(valid(c.line));
        ASSERT_EQ(r.code, 0) << r.error;
        EXPECT_STREQ(r.record.adapterType, c.adapter);
        EXPECT_EQ(r.record.deletable, c.deletable);
        EXPECT_EQ(r.record.cid, c.cid);
    }
}

TEST(ReadDescriptor, ExtentLineForms) {
    struct Case {
        const char* line;
        uint32_t sectors;
        const char* name;
    };
    const Case cases[] = {
        {"RW 2048 flat \"a b.vmdk\" 0\n", 2048, "a b.vmdk"},
        {"rw\t2048   Flat\t\"x\"   0 trailing words\n", 2048, "x"},
        {"RW 4294967295 FLAT \"big\" 0\n", 4294967295u, "big"},
        {"RW 8192 FLAT \"sub/disk-flat.vmdk\" 0\n", 8192, "sub/disk-flat.vmdk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string text = std::string(HEADER) + c.line +
                           "ddb.geometry.cylinders = \"1\"\n"
                           "ddb.geometry.heads = \"1\"\n"
                           "ddb.geometry.sectors = \"1\"\n";
        ReadResult r = readText(text);
        ASSERT_EQ(r.code, 0) << r.error;
        EXPECT_EQ(r.record.extentSectors, c.sectors);
        EXPECT_STREQ(r.record.extentFileName, c.name);
    }
    // A later extent line replaces the earlier one.
    ReadResult r = readText(valid("RW 8388608 FLAT \"other.vmdk\" 0\n"));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.record.extentSectors, 8388608u);
    EXPECT_STREQ(r.record.extentFileName, "other.vmdk");
}

TEST(ReadDescriptor, LineFaults) {
    struct Case {
        const char* line;
        const char* error;
    };
    // Each line goes in as line 10, after the header, the extent and the geometry.
    const Case cases[] = {
        {"=5\n", "Line 10 - no parameter name"},
        {"\"quoted\"=1\n", "Line 10 - no parameter name"},
        {"ddb.geometry.biosHeads = \"255\"\n",
         "Line 10: unknown parameter \"ddb.geometry.biosHeads\""},
        {"RDONLY 100 FLAT \"x\" 0\n", "Line 10: unknown parameter \"RDONLY\""},
        {"ddb.toolsVersion2 = \"1\"\n", "Line 10: no \"=\""},
        {"version 1\n", "Line 10: no \"=\""},
        {"ddb.deletable = \"yes\"\n", "Line 10: invalid bool parameter"},
        {"ddb.deletable = true \n", "Line 10: invalid bool parameter"},
        {"ddb.deletable = true # comment\n", "Line 10: invalid bool parameter"},
        {"ddb.deletable = \"truetruetruetruetrue\"\n", "Line 10: invalid bool parameter"},
        {"CID=0x12\n", "Line 10: invalid numeric parameter"},
        {"CID=fffffffff\n", "Line 10: invalid numeric parameter"},
        {"CID=\"12g\"\n", "Line 10: invalid numeric parameter"},
        {"version=\"1x\"\n", "Line 10: no right quotemark"},
        {"version=-1\n", "Line 10: invalid numeric parameter"},
        {"version=\n", "Line 10: invalid numeric parameter"},
        {"version=\"1\n", "Line 10: no right quotemark"},
        {"ddb.uuid=\"abc\n", "Line 10: no right quotemark"},
        {"ddb.deletable=\"true\n", "Line 10: no right quotemark"},
        {"version=1 # one\n", "Line 10: extra chars after the value"},
        {"ddb.adapterType = \"ide\" # disk\n", "Line 10: extra chars after the value"},
        {"ddb.adapterType = ide\"x\n", "Line 10: extra chars after the value"},
        {"RW 100 FLAT \"x\" 512\n", "Line 10 - invalid disk file descriptor"},
        {"RW 0 FLAT \"x\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 0 SPARSE \"x\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 FLAT \"\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 FLAT x 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 FLAT \"x\"\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 FLAT \"x 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW -100 FLAT \"x\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW +100 FLAT \"x\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 4294967296 FLAT \"x\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 8589934592 FLAT \"x\" 0\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 FLAT \"x\" 4294967296\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 FLAT \"x\" -0\n", "Line 10 - invalid disk file descriptor"},
        {"RW\n", "Line 10 - invalid disk file descriptor"},
        {"RW 100 SPARSE \"x\" 0\n", "Line 10 - only FLAT disks are supported"},
        {"RW 100 VMFS \"x\" 0\n", "Line 10 - only FLAT disks are supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ReadResult r = readText(valid(std::string(c.line) + "version=oops\n"));
        EXPECT_EQ(r.code, 6);
        EXPECT_EQ(r.error, std::string(c.error) + "\n");
    }
}

TEST(ReadDescriptor, CrLfAtTheEndOfAFullPiece) {
    // 254 characters and CR LF: the CR ends the first 255-character piece.
    std::string line = "ddb.adapterType = \"" + std::string(234, 'a') + "\"";
    ASSERT_EQ(line.size(), 254u);
    ReadResult r = readText(valid(line + "\r\nversion=7\r\n"));
    EXPECT_EQ(r.code, 0) << r.error;
    EXPECT_EQ(r.record.version, 7u);
    EXPECT_EQ(std::string(r.record.adapterType), std::string(15, 'a'));
}

TEST(ReadDescriptor, LongLinesAreReadInPieces) {
    // 255 characters make one piece; the rest of the line is a line of its own.
    std::string comment = "#" + std::string(254, 'c') + "version=x\n";
    ReadResult r = readText(std::string(HEADER) + comment);
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.error, "Line 7: invalid numeric parameter\n");
}

TEST(ReadDescriptor, EndChecks) {
    struct Case {
        std::string text;
        int code;
        const char* error;
    };
    const std::string ext = EXTENT;
    const std::string split =
        "# Disk DescriptorFile\nversion=1\ncreateType=\"twoGbMaxExtentFlat\"\n";
    const Case cases[] = {
        {std::string("version=1\n") + EXTENT + GEOMETRY, 6,
         "Only monolithic flat disks are supported"},
        {split + EXTENT + GEOMETRY, 6, "Only monolithic flat disks are supported"},
        {std::string(HEADER) + ext, 6, "Error in geometry parameters"},
        {valid("ddb.geometry.cylinders = \"0\"\n"), 6, "Error in geometry parameters"},
        {valid("ddb.geometry.heads = \"256\"\n"), 6, "Error in geometry parameters"},
        {valid("ddb.geometry.heads = \"0\"\n"), 6, "Error in geometry parameters"},
        {valid("ddb.geometry.sectors = \"64\"\n"), 6, "Error in geometry parameters"},
        {valid("ddb.geometry.sectors = \"0\"\n"), 6, "Error in geometry parameters"},
        {valid("ddb.geometry.cylinders = \"4162\"\n"), 6,
         "Geometry sectors greater than flat sectors"},
        {valid("ddb.geometry.cylinders = \"4294967295\"\nddb.geometry.heads = \"255\"\n"), 6,
         "Geometry sectors greater than flat sectors"},
        // Without an extent line the sectors stay ABSENT: the name is empty, the read passes.
        {std::string(HEADER) + GEOMETRY, 0, nullptr},
        {std::string(HEADER) + "ddb.geometry.heads = \"1\"\nddb.geometry.sectors = \"1\"\n", 0,
         nullptr},
        {std::string(HEADER) +
             "RW 4294967294 FLAT \"x\" 0\nddb.geometry.heads=1\nddb.geometry.sectors=1\n",
         6, "Geometry sectors greater than flat sectors"},
        {std::string(HEADER) + "Sectors = \"100\"\nDiskFileName=\"named.vmdk\"\n" +
             "ddb.geometry.cylinders = \"1\"\nddb.geometry.heads=1\nddb.geometry.sectors=63\n",
         0, nullptr},
        {"", 6, "Only monolithic flat disks are supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ReadResult r = readText(c.text);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.error, c.error ? std::string(c.error) + "\n" : "");
    }
}

}  // namespace
