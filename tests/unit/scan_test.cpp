#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shrink/shrink.h"

namespace {

struct Entry {
    unsigned char boot;
    unsigned char systemId;
    uint32_t first;
    uint32_t count;
};

struct Sector {
    unsigned char bytes[512];
};

void putLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

Sector mbr(const std::vector<Entry>& entries, bool signature = true) {
    Sector s;
    memset(s.bytes, 0, sizeof s.bytes);
    for (size_t i = 0; i < entries.size(); ++i) {
        unsigned char* e = s.bytes + 0x1BE + 16 * i;
        e[0] = entries[i].boot;
        e[1] = 0xFE;  // CHS bytes are ignored
        e[4] = entries[i].systemId;
        putLe32(e + 8, entries[i].first);
        putLe32(e + 12, entries[i].count);
    }
    if (signature) {
        s.bytes[510] = 0x55;
        s.bytes[511] = 0xAA;
    }
    return s;
}

DescriptorRecord disk(uint32_t sectors, uint32_t cylinders, uint32_t heads, uint32_t perTrack) {
    DescriptorRecord r;
    initRecord(&r);
    r.extentSectors = sectors;
    r.cylinders = cylinders;
    r.heads = heads;
    r.sectorsPerTrack = perTrack;
    return r;
}

struct Outcome {
    int code;
    std::string out;
    std::string err;
    ShrinkPlan plan;
};

Outcome plan(const DescriptorRecord& record, const Sector& sector) {
    Outcome o;
    memset(&o.plan, 0, sizeof o.plan);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    o.code = planFromSector(&record, sector.bytes, &o.plan);
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
}

TEST(SizeFigures, RoundToNearest) {
    struct Case {
        uint64_t sectors;
        unsigned gb, mb;
    };
    const Case cases[] = {{4u * 1024 * 1024, 2, 2048},
                          {0, 0, 0},
                          {1023, 0, 0},
                          {1024, 0, 1},
                          {2048, 0, 1},
                          {1048575, 1, 512},
                          {1046528, 0, 511},
                          {1047552, 1, 512},
                          {4294967295u, 2048, 2097152}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sectors);
        SizeFigures f = sizeFigures(c.sectors);
        EXPECT_EQ(f.gb, c.gb);
        EXPECT_EQ(f.mb, c.mb);
    }
}

TEST(PlanFromSector, ListingAndPlan) {
    // Listed in table order, whatever the order on the disk; empty entries are passed over.
    Sector s = mbr({{0x00, 0x07, 1050624, 1048576},
                    {0, 0, 0, 0},
                    {0x80, 0x83, 2048, 1048576},
                    {0x01, 0x05, 2099200, 20000}});
    Outcome o = plan(disk(8388608, 8322, 16, 63), s);
    ASSERT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out,
              "Disk partitions:\n"
              " 0: boot=n, sys=07,    1048576 secs (1050624-2099199), 1 Gb, 512 Mb\n"
              " 2: boot=y, sys=83,    1048576 secs (2048-1050623), 1 Gb, 512 Mb\n"
              " 3: boot=y, sys=05,      20000 secs (2099200-2119199), 0 Gb, 10 Mb\n"
              "Total sectors used by partitions: 2119200 (1 Gb, 1035 Mb)\n"
              "Number of cylinders: 8322 -> 2102\n"
              "Number of sectors to free:  6268928 (3 Gb, 3061 Mb)\n");
    EXPECT_EQ(o.plan.usedEnd, 2119200u);
    EXPECT_EQ(o.plan.newSectors, 2119680u);
    EXPECT_EQ(o.plan.newCylinders, 2102u);
    EXPECT_EQ(o.plan.newByteSize, 2119680ull * 512);
}

TEST(PlanFromSector, RoundingAndCylinders) {
    struct Case {
        uint32_t usedEnd;
        uint32_t heads, perTrack;
        uint32_t newSectors, newCylinders;
    };
    const Case cases[] = {
        {10 * 2048, 16, 63, 10 * 2048, 20},  // (20480 / 63) / 16, in that order
        {10 * 2048 + 1, 16, 63, 11 * 2048, 22},      {2048, 1, 1, 2048, 2048}, {1, 255, 8, 2048, 1},
        {0xFFFFF800u, 255, 63, 0xFFFFF800u, 267349},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.usedEnd);
        Outcome o = plan(disk(0xFFFFFFFFu, 1, c.heads, c.perTrack), mbr({{0, 0x83, 0, c.usedEnd}}));
        ASSERT_EQ(o.code, 0) << o.err;
        EXPECT_EQ(o.plan.newSectors, c.newSectors);
        EXPECT_EQ(o.plan.newCylinders, c.newCylinders);
        EXPECT_EQ(o.plan.newByteSize, static_cast<uint64_t>(c.newSectors) * 512);
    }
}

TEST(PlanFromSector, Refusals) {
    struct Case {
        const char* what;
        DescriptorRecord record;
        Sector sector;
        int code;
        const char* out;
        const char* err;
    };
    const DescriptorRecord gib2 = disk(4194304, 4161, 16, 63);
    const Case cases[] = {
        {"no signature", gib2, mbr({{0, 0x83, 2048, 2048}}, false), 8, "", "No partition table\n"},
        {"all empty", gib2, mbr({}), 8, "Disk partitions:\n", "No partitions\n"},
        {"empty type with a size", gib2, mbr({{0x80, 0, 2048, 2048}}), 8, "Disk partitions:\n",
         "No partitions\n"},
        {"zero-sized entry 2", gib2,
         mbr({{0, 0x83, 2048, 2048}, {0, 0, 0, 0}, {0, 0x83, 4096, 0}, {0, 0x83, 8192, 2048}}), 8,
         "Disk partitions:\n 0: boot=n, sys=83,       2048 secs (2048-4095), 0 Gb, 1 Mb\n",
         "Zero-sized partition 2\n"},
        {"gpt protective", gib2, mbr({{0, 0xEE, 1, 4194303}}), 8,
         "Disk partitions:\n 0: boot=n, sys=EE,    4194303 secs (1-4194303), 2 Gb, 2048 Mb\n",
         "GPT disks are not supported\n"},
        {"end past 2^32", disk(0xFFFFFFFFu, 1, 1, 1), mbr({{0, 0x83, 0xFFFFFF00u, 0x200}}), 8,
         "Disk partitions:\n"
         " 0: boot=n, sys=83,        512 secs (4294967040-4294967551), 0 Gb, 0 Mb\n"
         "Total sectors used by partitions: 4294967552 (2048 Gb, 2097152 Mb)\n",
         "Space used by partitions is greater than disk size\n"},
        {"beyond the extent", gib2, mbr({{0, 0x83, 2048, 4192257}}), 8,
         "Disk partitions:\n 0: boot=n, sys=83,    4192257 secs (2048-4194304), 2 Gb, 2047 Mb\n"
         "Total sectors used by partitions: 4194305 (2 Gb, 2048 Mb)\n",
         "Space used by partitions is greater than disk size\n"},
        {"ends at the extent", gib2, mbr({{0, 0x83, 2048, 4192256}}), 1,
         "Disk partitions:\n 0: boot=n, sys=83,    4192256 secs (2048-4194303), 2 Gb, 2047 Mb\n"
         "Total sectors used by partitions: 4194304 (2 Gb, 2048 Mb)\n",
         "No space to reclaim\n"},
        {"rounds up to the extent", disk(4194304, 4161, 16, 63), mbr({{0, 0x83, 2048, 4191952}}), 1,
         "Disk partitions:\n 0: boot=n, sys=83,    4191952 secs (2048-4193999), 2 Gb, 2047 Mb\n"
         "Total sectors used by partitions: 4194000 (2 Gb, 2048 Mb)\n",
         "No space to reclaim\n"},
        {"rounds past 32 bits", disk(0xFFFFFFFFu, 1, 1, 1), mbr({{0, 0x83, 0, 0xFFFFF801u}}), 8,
         "Disk partitions:\n"
         " 0: boot=n, sys=83, 4294965249 secs (0-4294965248), 2048 Gb, 2097151 Mb\n"
         "Total sectors used by partitions: 4294965249 (2048 Gb, 2097151 Mb)\n",
         "Computed number of cylinders is zero\n"},
        {"fewer sectors than a cylinder", disk(4194304, 261, 255, 63), mbr({{0, 0x83, 63, 100}}), 8,
         "Disk partitions:\n 0: boot=n, sys=83,        100 secs (63-162), 0 Gb, 0 Mb\n"
         "Total sectors used by partitions: 163 (0 Gb, 0 Mb)\n",
         "Computed number of cylinders is zero\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o = plan(c.record, c.sector);
        EXPECT_EQ(o.code, c.code);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.err, c.err);
    }
}

}  // namespace
