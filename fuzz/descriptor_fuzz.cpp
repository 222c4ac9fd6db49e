// readDescriptor on whole descriptor texts: every refusal says one line, every success is a
// record the later stages can trust.

#include <strings.h>

#include <cstdint>

#include "descriptor/descriptor.h"
#include "harness.h"

namespace {

bool terminated(const DescriptorRecord* record, const ParamRow* row) {
    const char* field = reinterpret_cast<const char*>(record) + row->offset;
    return memchr(field, '\0', row->width) != nullptr;
}

void checkAccepted(const DescriptorRecord* r, const Capture* capture) {
    require(capture->length == 0, "no standard error on success", capture);
    for (const ParamRow& row : PARAM_TABLE)
        if (row.type == String) require(terminated(r, &row), row.name, capture);
    require(strcasecmp(r->createType, "monolithicFlat") == 0, "createType", capture);
    require(r->heads >= 1 && r->heads <= 255, "heads 1..255", capture);
    require(r->sectorsPerTrack >= 1 && r->sectorsPerTrack <= 63, "sectors 1..63", capture);
    require(r->cylinders != 0, "cylinders != 0", capture);
    uint64_t geometry = static_cast<uint64_t>(r->sectorsPerTrack) * r->heads * r->cylinders;
    require(geometry <= r->extentSectors, "geometry within the extent", capture);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    discardListing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An empty memory stream never reports its end; an empty file does.
    FILE* stream =
        size == 0 ? fopen("/dev/null", "r") : fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (!stream) abort();
    DescriptorRecord record;
    memset(&record, 0xA5, sizeof record);
    Capture capture;
    beginCapture(&capture);
    int result = readDescriptor(stream, &record);
    endCapture(&capture);
    fclose(stream);
    if (result == 0)
        checkAccepted(&record, &capture);
    else
        require((result == 5 || result == 6) && isOneLine(&capture), "one line on refusal",
                &capture);
    freeCapture(&capture);
    return 0;
}
