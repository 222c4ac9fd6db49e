#include "descriptor/writer.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "support/support.h"

namespace {

struct Text {
    char* out;
    size_t size;
    size_t length;
    bool overflow;
};

void add(Text* text, const char* format, ...) FLATCUT_PRINTF(2, 3);

void add(Text* text, const char* format, ...) {
    if (text->overflow) return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text->out + text->length, text->size - text->length, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= text->size - text->length)
        text->overflow = true;
    else
        text->length += static_cast<size_t>(n);
}

}  // namespace

// The layout of every descriptor this tool writes, whatever the order of the one it read.
size_t formatDescriptor(const DescriptorRecord* r, const ShrinkPlan* plan, char* out, size_t size) {
    Text t = {out, size, 0, size == 0};
    add(&t, "# Disk DescriptorFile\n");
    add(&t, "version=%u\n", r->version);
    if (r->encoding[0]) add(&t, "encoding = \"%s\"\n", r->encoding);
    add(&t, "CID=%08x\n", r->cid);
    add(&t, "parentCID=%08x\n", r->parentCid);
    if (r->isNativeSnapshot[0]) add(&t, "isNativeSnapshot=\"%s\"\n", r->isNativeSnapshot);
    add(&t, "createType=\"%s\"\n", r->createType);
    add(&t, "\n");
    add(&t, "# Extent description\n");
    add(&t, "RW %u FLAT \"%s\" 0\n", plan->newSectors, r->extentFileName);
    add(&t, "\n");
    add(&t, "# The Disk Data Base\n");
    add(&t, "#DDB\n");
    add(&t, "\n");
    add(&t, "ddb.adapterType = \"%s\"\n", r->adapterType);
    if (r->deletable != ABSENT)
        add(&t, "ddb.deletable = \"%s\"\n", r->deletable ? "true" : "false");
    if (r->ddbEncoding[0]) add(&t, "ddb.encoding = \"%s\"\n", r->ddbEncoding);
    add(&t, "ddb.geometry.cylinders = \"%u\"\n", plan->newCylinders);
    add(&t, "ddb.geometry.heads = \"%u\"\n", r->heads);
    add(&t, "ddb.geometry.sectors = \"%u\"\n", r->sectorsPerTrack);
    if (r->longContentId[0]) add(&t, "ddb.longContentID = \"%s\"\n", r->longContentId);
    if (r->thinProvisioned != ABSENT) add(&t, "ddb.thinProvisioned = \"%u\"\n", r->thinProvisioned);
    if (r->toolsInstallType != ABSENT)
        add(&t, "ddb.toolsInstallType = \"%u\"\n", r->toolsInstallType);
    if (r->toolsVersion != ABSENT) add(&t, "ddb.toolsVersion = \"%u\"\n", r->toolsVersion);
    if (r->uuid[0]) add(&t, "ddb.uuid = \"%s\"\n", r->uuid);
    add(&t, "ddb.virtualHWVersion = \"%u\"\n", r->virtualHwVersion);
    if (t.overflow) {
        if (size > 0) out[0] = '\0';
        return 0;
    }
    return t.length;
}

int writeDescriptor(const DescriptorRecord* record, const ShrinkPlan* plan, const char* argument,
                    char* newPath) {
    joinText(newPath, 260, argument, strlen(argument), ".new");
    if (canOpenForReading(newPath)) {
        printError("New desc file \"%s\" already exists", newPath);
        return 9;
    }
    int fd = -1;
    if (!createTextExclusive(newPath, &fd)) {
        printError("Cannot create temp desc file \"%s\" (%s)", newPath,
                   runtimeErrorText(runtimeErrno()));
        return 9;
    }
    // Every field has a fixed width, so the whole text is far below this size.
    char text[4096];
    size_t length = formatDescriptor(record, plan, text, sizeof text);
    if (length == 0) setRuntimeErrno(ERANGE);
    bool written = length > 0 && writeText(fd, text, length) && syncText(fd);
    int error = runtimeErrno();
    bool closed = closeTextFile(fd);
    if (written && !closed) error = runtimeErrno();
    if (!written || !closed) {
        // Never left behind half-written: it would be installed by a later run or block it.
        removeFile(newPath);
        printError("Cannot write temp desc file \"%s\" (%s)", newPath, runtimeErrorText(error));
        return 9;
    }
    return 0;
}
