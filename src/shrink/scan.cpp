#include <cinttypes>
#include <cstring>

#include "platform/platform.h"
#include "shrink/shrink.h"
#include "support/support.h"

namespace {

const size_t TABLE_OFFSET = 0x1BE;
const size_t ENTRY_SIZE = 16;
const unsigned ENTRY_COUNT = 4;
const size_t SIGNATURE_OFFSET = 510;
const unsigned MBR_SIGNATURE = 0xAA55;
const unsigned char GPT_PROTECTIVE = 0xEE;

// Offsets within a partition entry.
const size_t BOOT_INDICATOR = 0;
const size_t SYSTEM_ID = 4;
const size_t FIRST_SECTOR = 8;
const size_t SECTOR_COUNT = 12;

unsigned readLe16(const unsigned char* p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }

uint32_t readLe32(const unsigned char* p) {
    return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// A relative name, with or without sub-folders, lies in the descriptor's folder.
bool makeExtentPath(const DescriptorRecord* record, const char* fullPath, char* path, size_t size) {
    const char* name = record->extentFileName;
    size_t folder = isAbsolutePath(name) ? 0 : folderPartLength(fullPath);
    return joinText(path, size, fullPath, folder, name);
}

}  // namespace

SizeFigures sizeFigures(uint64_t sectors) {
    uint64_t mb = ((sectors >> 1) + 512) >> 10;
    SizeFigures figures;
    figures.mb = static_cast<unsigned>(mb);
    figures.gb = static_cast<unsigned>((mb + 512) >> 10);
    return figures;
}

int planFromSector(const DescriptorRecord* record, const unsigned char sector[512],
                   ShrinkPlan* plan) {
    if (readLe16(sector + SIGNATURE_OFFSET) != MBR_SIGNATURE) {
        printError("No partition table");
        return 8;
    }
    printInfo("Disk partitions:");
    uint64_t usedEnd = 0;
    bool gpt = false;
    for (unsigned i = 0; i < ENTRY_COUNT; ++i) {
        const unsigned char* entry = sector + TABLE_OFFSET + i * ENTRY_SIZE;
        unsigned char systemId = entry[SYSTEM_ID];
        if (systemId == 0) continue;
        uint32_t first = readLe32(entry + FIRST_SECTOR);
        uint32_t count = readLe32(entry + SECTOR_COUNT);
        if (count == 0) {
            printError("Zero-sized partition %u", i);
            return 8;
        }
        uint64_t end = static_cast<uint64_t>(first) + count;
        SizeFigures figures = sizeFigures(count);
        printInfo(" %u: boot=%c, sys=%02X, %10u secs (%u-%" PRIu64 "), %u Gb, %u Mb", i,
                  entry[BOOT_INDICATOR] ? 'y' : 'n', systemId, count, first, end - 1, figures.gb,
                  figures.mb);
        if (end > usedEnd) usedEnd = end;
        if (systemId == GPT_PROTECTIVE) gpt = true;
    }
    if (usedEnd == 0) {
        printError("No partitions");
        return 8;
    }
    // The MBR of a GPT disk does not say where its partitions end, and its backup table lies at
    // the very end of the disk.
    if (gpt) {
        printError("GPT disks are not supported");
        return 8;
    }
    SizeFigures used = sizeFigures(usedEnd);
    printInfo("Total sectors used by partitions: %" PRIu64 " (%u Gb, %u Mb)", usedEnd, used.gb,
              used.mb);
    if (usedEnd > record->extentSectors) {
        printError("Space used by partitions is greater than disk size");
        return 8;
    }
    // An end too close to 2^32 rounds to 0, as 32-bit arithmetic gives, and is refused below.
    uint64_t rounded =
        (usedEnd + ROUNDING_SECTORS - 1) & ~static_cast<uint64_t>(ROUNDING_SECTORS - 1);
    uint32_t newSectors = rounded > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(rounded);
    uint32_t newCylinders = newSectors / record->sectorsPerTrack / record->heads;
    if (newCylinders == 0) {
        printError("Computed number of cylinders is zero");
        return 8;
    }
    if (newCylinders != record->cylinders)
        printInfo("Number of cylinders: %u -> %u", record->cylinders, newCylinders);
    if (newSectors >= record->extentSectors) {
        printError("No space to reclaim");
        return 1;
    }
    SizeFigures freed = sizeFigures(record->extentSectors - newSectors);
    printInfo("Number of sectors to free:  %u (%u Gb, %u Mb)", record->extentSectors - newSectors,
              freed.gb, freed.mb);
    plan->usedEnd = usedEnd;
    plan->newSectors = newSectors;
    plan->newCylinders = newCylinders;
    plan->newByteSize = static_cast<uint64_t>(newSectors) * SECTOR_SIZE;
    return 0;
}

int scanPartitionTable(const DescriptorRecord* record, const char* fullPath, char* errorText,
                       size_t errorTextSize, ShrinkPlan* plan) {
    if (!makeExtentPath(record, fullPath, plan->extentPath, sizeof plan->extentPath)) {
        setLastOsError(nameTooLongError());
        printError("Cannot open disk file \"%s\" for reading (%s)", record->extentFileName,
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        return 4;
    }
    FileHandle extent = NO_FILE;
    if (!openForReading(plan->extentPath, &extent)) {
        printError("Cannot open disk file \"%s\" for reading (%s)", plan->extentPath,
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        return 4;
    }
    printInfo("Disk file: \"%s\"", plan->extentPath);
    unsigned char sector[SECTOR_SIZE];
    bool read = readFirstSector(extent, sector);
    unsigned readError = lastOsError();
    closeFile(extent);
    if (!read) {
        printError("Cannot read virtual disk MBR (%s)",
                   systemErrorText(errorText, errorTextSize, readError));
        return 7;
    }
    return planFromSector(record, sector, plan);
}
