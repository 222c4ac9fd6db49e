#include <gtest/gtest.h>

#include <cstring>

#include "descriptor/descriptor.h"

namespace {

TEST(ParamTable, RowsInSearchOrderWithTheirFields) {
    const char* names[PARAM_COUNT] = {"version",
                                      "CID",
                                      "parentCID",
                                      "encoding",
                                      "isNativeSnapshot",
                                      "createType",
                                      "Sectors",
                                      "DiskFileName",
                                      "ddb.adapterType",
                                      "ddb.deletable",
                                      "ddb.geometry.cylinders",
                                      "ddb.geometry.heads",
                                      "ddb.geometry.sectors",
                                      "ddb.longContentID",
                                      "ddb.thinProvisioned",
                                      "ddb.toolsInstallType",
                                      "ddb.toolsVersion",
                                      "ddb.encoding",
                                      "ddb.uuid",
                                      "ddb.VirtualHWVersion"};
    for (unsigned i = 0; i < PARAM_COUNT; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_STREQ(PARAM_TABLE[i].name, names[i]);
        EXPECT_EQ(findParam(names[i], strlen(names[i])), &PARAM_TABLE[i]);
        EXPECT_EQ(PARAM_TABLE[i].width, PARAM_TABLE[i].type == String ? PARAM_TABLE[i].width : 4u);
    }
    EXPECT_EQ(findParam("ddb.virtualhwversion", 20), &PARAM_TABLE[19]);
    EXPECT_EQ(findParam("DDB.UUID", 8), &PARAM_TABLE[18]);
    EXPECT_EQ(findParam("ddb.uuidx", 8), &PARAM_TABLE[18]);  // the length decides
    EXPECT_EQ(findParam("ddb.uui", 7), nullptr);
    EXPECT_EQ(findParam("ddb.geometry.biosHeads", 22), nullptr);
}

TEST(DescriptorRecordInit, NumbersAbsentStringsEmpty) {
    DescriptorRecord record;
    memset(&record, 0x5A, sizeof record);
    initRecord(&record);
    for (const ParamRow& row : PARAM_TABLE) {
        SCOPED_TRACE(row.name);
        const unsigned char* field = reinterpret_cast<const unsigned char*>(&record) + row.offset;
        if (row.type == String) {
            for (size_t i = 0; i < row.width; ++i) EXPECT_EQ(field[i], 0);
        } else {
            uint32_t value;
            memcpy(&value, field, 4);
            EXPECT_EQ(value, ABSENT);
        }
    }
}

TEST(StoreParam, ClearsTheFieldAndKeepsTheTerminator) {
    DescriptorRecord record;
    initRecord(&record);
    const ParamRow* adapter = findParam("ddb.adapterType", 15);
    storeParam(&record, adapter, 0, "buslogic-extra-long-name", 24);
    EXPECT_STREQ(record.adapterType, "buslogic-extra-");
    storeParam(&record, adapter, 0, "ide", 3);
    EXPECT_STREQ(record.adapterType, "ide");
    for (size_t i = 3; i < sizeof record.adapterType; ++i) EXPECT_EQ(record.adapterType[i], 0);
    storeParam(&record, findParam("CID", 3), 0xFFFFFFFEu, nullptr, 0);
    EXPECT_EQ(record.cid, 0xFFFFFFFEu);
}

}  // namespace
