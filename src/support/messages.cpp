#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "support.h"

namespace {

struct ShutdownEntry {
    ShutdownEntry* prev;
    ShutdownEntry* next;
    void (*action)();
};

struct ShutdownList {
    ShutdownEntry* head;
    ShutdownEntry* tail;
    unsigned count;
};

bool started = false;
unsigned versionWord = 0;
ShutdownList* shutdownList = nullptr;

// Marked as a printf-style function so that the compiler checks the callers' formats, not this
// forwarding call.
FLATCUT_PRINTF(2, 0) void printLine(FILE* stream, const char* format, va_list args) {
    char line[512];
    // A longer message is cut at 511 characters.
    if (vsnprintf(line, sizeof line, format, args) < 0) line[0] = '\0';
    fputs(line, stream);
    fputc('\n', stream);
}

}  // namespace

void printInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    printLine(stdout, format, args);
    va_end(args);
}

void printError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    printLine(stderr, format, args);
    va_end(args);
}

char* systemErrorText(char* buf, size_t size, unsigned code) {
    unsigned saved = lastOsError();
    int prefix = snprintf(buf, size, "%s%u/%u - ", (code & 0x20000000u) ? "u" : "",
                          (code >> 16) & 0x1FFFu, code & 0xFFFFu);
    size_t used = prefix < 0 ? 0 : static_cast<size_t>(prefix);
    if (used + 1 >= size) {
        // No room for any text: the numbers alone, as far as they fit.
        if (used >= 3 && used < size) buf[used - 3] = '\0';
        setLastOsError(saved);
        return buf;
    }
    size_t written = osErrorMessage(code, buf + used, size - used - 1);
    if (written == 0) {
        buf[used - 3] = '\0';
    } else {
        size_t length = used + written;
        buf[length] = '\0';
        if (buf[length - 1] == ' ') buf[length - 1] = '\0';
    }
    setLastOsError(saved);
    return buf;
}

const char* runtimeErrorText(int errnum) {
    const char* text = runtimeErrorMessage(errnum);
    return text ? text : "";
}

bool supportStartup() {
    unsigned major = 0, minor = 0;
    if (!queryOsVersion(&major, &minor)) return false;
    unsigned word = (major << 8) | minor;
    if (word < 0x0400) return false;
    if (!shutdownList) {
        shutdownList = static_cast<ShutdownList*>(calloc(1, sizeof(ShutdownList)));
        if (!shutdownList) return false;
    }
    versionWord = word;
    started = true;
    return true;
}

void supportShutdown() {
    if (!shutdownList) return;
    while (shutdownList->head) {
        ShutdownEntry* entry = shutdownList->head;
        if (entry->prev) entry->prev->next = entry->next;
        if (entry->next) entry->next->prev = entry->prev;
        if (shutdownList->head == entry) shutdownList->head = entry->next;
        if (shutdownList->tail == entry) shutdownList->tail = entry->prev;
        entry->prev = entry->next = nullptr;
        --shutdownList->count;
        entry->action();
        free(entry);
    }
    free(shutdownList);
    shutdownList = nullptr;
    started = false;
}

bool supportAtShutdown(void (*action)()) {
    if (!started || !shutdownList || !action) return false;
    ShutdownEntry* entry = static_cast<ShutdownEntry*>(calloc(1, sizeof(ShutdownEntry)));
    if (!entry) return false;
    entry->action = action;
    entry->prev = shutdownList->tail;
    if (shutdownList->tail)
        shutdownList->tail->next = entry;
    else
        shutdownList->head = entry;
    shutdownList->tail = entry;
    ++shutdownList->count;
    return true;
}

unsigned supportVersionWord() { return versionWord; }
