#include "descriptor/writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

ShrinkPlan smallPlan() {
    ShrinkPlan plan;
    memset(&plan, 0, sizeof plan);
    plan.newSectors = 2097152;
    plan.newCylinders = 2080;
    plan.newByteSize = 2097152ull * 512;
    return plan;
}

std::string format(const DescriptorRecord& record) {
    ShrinkPlan plan = smallPlan();
    char text[4096];
    size_t length = formatDescriptor(&record, &plan, text, sizeof text);
    return std::string(text, length);
}

void set(DescriptorRecord* r, const char* name, uint32_t number, const char* text = "") {
    storeParam(r, findParam(name, strlen(name)), number, text, strlen(text));
}

TEST(FormatDescriptor, EveryLinePresent) {
    DescriptorRecord r;
    initRecord(&r);
    set(&r, "version", 1);
    set(&r, "encoding", 0, "UTF-8");
    set(&r, "CID", 0xABC);
    set(&r, "parentCID", 0x12345678);
    set(&r, "isNativeSnapshot", 0, "no");
    set(&r, "createType", 0, "MONOLITHICFLAT");
    set(&r, "Sectors", 41943040);
    set(&r, "DiskFileName", 0, "sub/disk  -flat.vmdk");
    set(&r, "ddb.adapterType", 0, "lsilogic  ");
    set(&r, "ddb.deletable", 0);
    set(&r, "ddb.encoding", 0, "windows-1252");
    set(&r, "ddb.geometry.cylinders", 41610);
    set(&r, "ddb.geometry.heads", 16);
    set(&r, "ddb.geometry.sectors", 63);
    set(&r, "ddb.longContentID", 0, "0f4e1a2b3c4d5e6f708192a3b4c5d6e7");
    set(&r, "ddb.thinProvisioned", 0);
    set(&r, "ddb.toolsInstallType", 4);
    set(&r, "ddb.toolsVersion", 12352);
    set(&r, "ddb.uuid", 0, "60 00 C2 9b 69 2f c9 76-74 c4 07 9a 10 1c 43 44");
    set(&r, "ddb.VirtualHWVersion", 19);
    EXPECT_EQ(format(r),
              "# Disk DescriptorFile\n"
              "version=1\n"
              "encoding = \"UTF-8\"\n"
              "CID=00000abc\n"
              "parentCID=12345678\n"
              "isNativeSnapshot=\"no\"\n"
              "createType=\"MONOLITHICFLAT\"\n"
              "\n"
              "# Extent description\n"
              "RW 2097152 FLAT \"sub/disk  -flat.vmdk\" 0\n"
              "\n"
              "# The Disk Data Base\n"
              "#DDB\n"
              "\n"
              "ddb.adapterType = \"lsilogic  \"\n"
              "ddb.deletable = \"false\"\n"
              "ddb.encoding = \"windows-1252\"\n"
              "ddb.geometry.cylinders = \"2080\"\n"
              "ddb.geometry.heads = \"16\"\n"
              "ddb.geometry.sectors = \"63\"\n"
              "ddb.longContentID = \"0f4e1a2b3c4d5e6f708192a3b4c5d6e7\"\n"
              "ddb.thinProvisioned = \"0\"\n"
              "ddb.toolsInstallType = \"4\"\n"
              "ddb.toolsVersion = \"12352\"\n"
              "ddb.uuid = \"60 00 C2 9b 69 2f c9 76-74 c4 07 9a 10 1c 43 44\"\n"
              "ddb.virtualHWVersion = \"19\"\n");
    set(&r, "ddb.deletable", 7);
    EXPECT_NE(format(r).find("ddb.deletable = \"true\"\n"), std::string::npos);
}

TEST(FormatDescriptor, AbsentAndEmptyValues) {
    DescriptorRecord r;
    initRecord(&r);
    set(&r, "createType", 0, "monolithicFlat");
    set(&r, "ddb.geometry.heads", 255);
    set(&r, "ddb.geometry.sectors", 63);
    // Lines written always keep their ABSENT or empty value; the others are left out.
    EXPECT_EQ(format(r),
              "# Disk DescriptorFile\n"
              "version=4294967295\n"
              "CID=ffffffff\n"
              "parentCID=ffffffff\n"
              "createType=\"monolithicFlat\"\n"
              "\n"
              "# Extent description\n"
              "RW 2097152 FLAT \"\" 0\n"
              "\n"
              "# The Disk Data Base\n"
              "#DDB\n"
              "\n"
              "ddb.adapterType = \"\"\n"
              "ddb.geometry.cylinders = \"2080\"\n"
              "ddb.geometry.heads = \"255\"\n"
              "ddb.geometry.sectors = \"63\"\n"
              "ddb.virtualHWVersion = \"4294967295\"\n");
    // A value that cannot be told from ABSENT is left out like one.
    set(&r, "ddb.toolsVersion", 0xFFFFFFFFu);
    EXPECT_EQ(format(r).find("toolsVersion"), std::string::npos);
}

TEST(FormatDescriptor, TooSmallABufferGivesNothing) {
    DescriptorRecord r;
    initRecord(&r);
    ShrinkPlan plan = smallPlan();
    char text[64];
    EXPECT_EQ(formatDescriptor(&r, &plan, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
}

TEST(FormatDescriptor, ReadsBackTheSame) {
    // What the writer lays out, the reader takes, field for field.
    DescriptorRecord r;
    initRecord(&r);
    set(&r, "version", 1);
    set(&r, "CID", 0xFFFFFFFEu);
    set(&r, "createType", 0, "monolithicFlat");
    set(&r, "DiskFileName", 0, "x-flat.vmdk");
    set(&r, "ddb.adapterType", 0, "ide");
    set(&r, "ddb.deletable", 1);
    set(&r, "ddb.geometry.heads", 16);
    set(&r, "ddb.geometry.sectors", 63);
    set(&r, "ddb.uuid", 0, "ab cd");
    set(&r, "ddb.VirtualHWVersion", 4);
    ShrinkPlan plan = smallPlan();
    char text[4096];
    size_t length = formatDescriptor(&r, &plan, text, sizeof text);
    FILE* f = fopen("writer_test.vmdk", "wb");
    fwrite(text, 1, length, f);
    fclose(f);
    FILE* in = openTextForReading("writer_test.vmdk");
    ASSERT_NE(in, nullptr);
    DescriptorRecord back;
    EXPECT_EQ(readDescriptor(in, &back), 0);
    closeText(in);
    remove("writer_test.vmdk");
    r.extentSectors = plan.newSectors;
    r.cylinders = plan.newCylinders;
    EXPECT_EQ(memcmp(&r, &back, sizeof r), 0);
}

}  // namespace
