// planFromSector on a first sector and the extent size and geometry of a descriptor that passed
// the reader. Input: extent sectors, heads, sectors per track (32-bit little-endian each), then
// the sector; a short sector is padded with zeros as a short extent is read.

#include <cstdint>

#include "descriptor/descriptor.h"
#include "harness.h"
#include "shrink/shrink.h"

namespace {

uint32_t le32(const uint8_t* p) {
    return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The end of the furthest used entry, worked out apart from the code under test.
uint64_t usedEnd(const unsigned char* sector) {
    uint64_t end = 0;
    for (unsigned i = 0; i < 4; ++i) {
        const unsigned char* entry = sector + 0x1BE + 16 * i;
        if (entry[4] == 0) continue;
        uint64_t entryEnd = static_cast<uint64_t>(le32(entry + 8)) + le32(entry + 12);
        if (entryEnd > end) end = entryEnd;
    }
    return end;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    discardListing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 12) return -1;
    DescriptorRecord record;
    initRecord(&record);
    record.extentSectors = le32(data);
    // Values in range map to themselves.
    record.heads = 1 + (le32(data + 4) - 1) % 255;
    record.sectorsPerTrack = 1 + (le32(data + 8) - 1) % 63;
    record.cylinders = record.extentSectors / (record.heads * record.sectorsPerTrack);
    if (record.cylinders == 0) record.cylinders = 1;
    unsigned char sector[SECTOR_SIZE] = {};
    memcpy(sector, data + 12, size - 12 < SECTOR_SIZE ? size - 12 : SECTOR_SIZE);

    ShrinkPlan plan;
    memset(&plan, 0xA5, sizeof plan);
    Capture capture;
    beginCapture(&capture);
    int result = planFromSector(&record, sector, &plan);
    endCapture(&capture);
    if (result == 0) {
        require(capture.length == 0, "no standard error on success", &capture);
        require(plan.usedEnd == usedEnd(sector), "used end", &capture);
        require(plan.newSectors % ROUNDING_SECTORS == 0, "new sectors a multiple of 2048",
                &capture);
        require(plan.newSectors >= plan.usedEnd, "new sectors at least the used end", &capture);
        require(plan.newSectors < record.extentSectors, "new sectors below the extent", &capture);
        uint64_t geometry =
            static_cast<uint64_t>(plan.newCylinders) * record.heads * record.sectorsPerTrack;
        require(plan.newCylinders != 0 && geometry <= plan.newSectors,
                "new geometry within the new size", &capture);
        require(plan.newByteSize == static_cast<uint64_t>(plan.newSectors) * SECTOR_SIZE,
                "byte size", &capture);
    } else {
        require((result == 1 || result == 8) && isOneLine(&capture), "one line on refusal",
                &capture);
    }
    freeCapture(&capture);
    return 0;
}
