#pragma once

// What the fuzz targets share: the listing goes nowhere, standard error is captured call by call,
// and a broken property aborts so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Run once at start-up.
inline void discardListing() {
    if (!freopen("/dev/null", "w", stdout)) abort();
}

// Only the stream pointer is swapped, never file descriptor 2: a sanitizer's report of a crash
// inside the call must still reach libFuzzer's output.
struct Capture {
    FILE* saved;
    FILE* stream;
    char* text;
    size_t length;
};

inline void beginCapture(Capture* capture) {
    capture->text = nullptr;
    capture->length = 0;
    capture->stream = open_memstream(&capture->text, &capture->length);
    if (!capture->stream) abort();
    capture->saved = stderr;
    stderr = capture->stream;
}

inline void endCapture(Capture* capture) {
    stderr = capture->saved;
    if (fclose(capture->stream) != 0) abort();
}

inline void freeCapture(Capture* capture) { free(capture->text); }

// A refusal's message: some text, no NUL, one line feed at its end.
inline bool isOneLine(const Capture* capture) {
    size_t n = capture->length;
    return n >= 2 && capture->text[n - 1] == '\n' &&
           memchr(capture->text, '\n', n - 1) == nullptr &&
           memchr(capture->text, '\0', n) == nullptr;
}

inline void require(bool holds, const char* property, const Capture* capture) {
    if (holds) return;
    fprintf(stderr, "property failed: %s\nstandard error of the call (%zu bytes): %.*s\n", property,
            capture->length, static_cast<int>(capture->length), capture->text);
    abort();
}
