#include <cstring>

#include "descriptor.h"
#include "support/support.h"

#define PARAM(key, type, field) \
    { key, type, offsetof(DescriptorRecord, field), sizeof(DescriptorRecord::field) }

// Search order of the reader: the first row that matches wins.
const ParamRow PARAM_TABLE[PARAM_COUNT] = {
    PARAM("version", Decimal, version),
    PARAM("CID", Hex, cid),
    PARAM("parentCID", Hex, parentCid),
    PARAM("encoding", String, encoding),
    PARAM("isNativeSnapshot", String, isNativeSnapshot),
    PARAM("createType", String, createType),
    PARAM("Sectors", Decimal, extentSectors),
    PARAM("DiskFileName", String, extentFileName),
    PARAM("ddb.adapterType", String, adapterType),
    PARAM("ddb.deletable", Bool, deletable),
    PARAM("ddb.geometry.cylinders", Decimal, cylinders),
    PARAM("ddb.geometry.heads", Decimal, heads),
    PARAM("ddb.geometry.sectors", Decimal, sectorsPerTrack),
    PARAM("ddb.longContentID", String, longContentId),
    PARAM("ddb.thinProvisioned", Decimal, thinProvisioned),
    PARAM("ddb.toolsInstallType", Decimal, toolsInstallType),
    PARAM("ddb.toolsVersion", Decimal, toolsVersion),
    PARAM("ddb.encoding", String, ddbEncoding),
    PARAM("ddb.uuid", String, uuid),
    PARAM("ddb.VirtualHWVersion", Decimal, virtualHwVersion),
};

#undef PARAM

void initRecord(DescriptorRecord* record) {
    memset(record, 0, sizeof *record);
    for (const ParamRow& row : PARAM_TABLE)
        if (row.type != String) storeParam(record, &row, ABSENT, nullptr, 0);
}

const ParamRow* findParam(const char* name, size_t length) {
    for (const ParamRow& row : PARAM_TABLE)
        if (strlen(row.name) == length && equalsNoCaseN(row.name, name, length)) return &row;
    return nullptr;
}

void storeParam(DescriptorRecord* record, const ParamRow* row, uint32_t number, const char* text,
                size_t textLength) {
    unsigned char* field = reinterpret_cast<unsigned char*>(record) + row->offset;
    memset(field, 0, row->width);
    if (row->type != String) {
        memcpy(field, &number, sizeof number);
        return;
    }
    // A value as long as the field or longer keeps width - 1 characters and its terminator.
    if (textLength > row->width - 1) textLength = row->width - 1;
    memcpy(field, text, textLength);
}
