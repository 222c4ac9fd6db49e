#pragma once

// The partition scan that decides the new size, the user's confirmation, and the commit that
// installs the new descriptor and cuts the flat extent.

#include <cstddef>
#include <cstdint>

#include "descriptor/descriptor.h"

const unsigned SECTOR_SIZE = 512;
const uint32_t ROUNDING_SECTORS = 2048;  // 1 MiB

struct ShrinkPlan {
    char extentPath[260];
    uint64_t usedEnd;  // can pass 2^32 when an entry runs past it
    uint32_t newSectors;
    uint32_t newCylinders;
    uint64_t newByteSize;
};

struct SizeFigures {
    unsigned gb;
    unsigned mb;
};

// KiB rounded to the nearest MiB, and that rounded to the nearest GiB: the figures of every
// "Gb, Mb" pair in the messages.
SizeFigures sizeFigures(uint64_t sectors);

// Opens the flat extent, reads its first sector and plans the cut: 0, or 1, 4, 7 or 8 after one
// error line. errorText is the run's scratch buffer of errorTextSize bytes.
int scanPartitionTable(const DescriptorRecord* record, const char* fullPath, char* errorText,
                       size_t errorTextSize, ShrinkPlan* plan);
// The plan from a first sector already read; the listing and its faults as above (1 or 8).
int planFromSector(const DescriptorRecord* record, const unsigned char sector[512],
                   ShrinkPlan* plan);

// 0 when the user answers y or Y, else 14.
int confirmShrink(const ShrinkPlan* plan);
// Renames the descriptor to .bak, installs the .new file and cuts the extent: 0, or 10, 11, 12,
// 13 or 17 after one error line.
int commitShrink(const char* argument, const char* newPath, const ShrinkPlan* plan, char* errorText,
                 size_t errorTextSize);
