#include <cstring>

#include "support.h"

namespace {

// Value of a digit or letter, 36 for anything else.
unsigned digitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A') + 10;
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a') + 10;
    return 36;
}

char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* skipBlanks(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

uint32_t parseUnsigned(const char* text, const char** end, unsigned base) {
    uint64_t value = 0;
    const char* p = text;
    bool fault = false;
    for (;; ++p) {
        unsigned digit = digitValue(*p);
        if (digit >= base) break;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) {
            fault = true;
            break;
        }
    }
    // A digit or letter the base cannot take must not pass for the end of the number.
    if (!fault && base <= 10 && *p >= '0' && *p <= '9') fault = true;
    if (!fault && base > 10 && isAsciiLetter(*p)) fault = true;
    if (fault) {
        if (end) *end = text;
        return 0xFFFFFFFFu;
    }
    if (end) *end = p;
    return static_cast<uint32_t>(value);
}

bool equalsNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (foldCase(*a) != foldCase(*b)) return false;
    return *a == *b;
}

bool equalsNoCaseN(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (foldCase(a[i]) != foldCase(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

bool joinText(char* out, size_t size, const char* first, size_t firstLength, const char* second) {
    size_t secondLength = strlen(second);
    if (firstLength + secondLength + 1 > size) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    memmove(out, first, firstLength);
    memcpy(out + firstLength, second, secondLength + 1);
    return true;
}
