#pragma once

// A VMware monolithic flat descriptor in memory, the parameter table that maps its keys to the
// record's fields, and the reader and writer of its text.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// A numeric field that no line set.
const uint32_t ABSENT = 0xFFFFFFFFu;

enum ParamType { Bool = 0, Decimal = 1, Hex = 2, String = 3 };

struct DescriptorRecord {
    uint32_t version;
    uint32_t cid;
    uint32_t parentCid;
    char encoding[32];
    char isNativeSnapshot[12];
    char createType[32];
    uint32_t extentSectors;
    char extentFileName[260];
    char adapterType[16];
    char ddbEncoding[32];
    char uuid[52];
    char longContentId[36];
    uint32_t deletable;
    uint32_t toolsInstallType;
    uint32_t toolsVersion;
    uint32_t virtualHwVersion;
    uint32_t thinProvisioned;
    uint32_t cylinders;
    uint32_t heads;
    uint32_t sectorsPerTrack;
};

struct ParamRow {
    const char* name;
    ParamType type;
    size_t offset;
    size_t width;
};

const unsigned PARAM_COUNT = 20;
extern const ParamRow PARAM_TABLE[PARAM_COUNT];

// All bytes zero, then every numeric field ABSENT.
void initRecord(DescriptorRecord* record);
// First row whose name has exactly length characters and equals name, ASCII case folded.
const ParamRow* findParam(const char* name, size_t length);
// Clears the field, then copies 4 bytes of a number or at most width - 1 characters of a string.
void storeParam(DescriptorRecord* record, const ParamRow* row, uint32_t number, const char* text,
                size_t textLength);

// 0 when the whole descriptor was read and is a shrinkable monolithic flat disk; 5 when a line
// could not be read, 6 for a fault in the content, each after one error line.
int readDescriptor(FILE* stream, DescriptorRecord* record);
