#pragma once

// General services of a run: start-up and shut-down, console message lines, error texts and
// text scanning. Nothing here knows about disks.

#include <cstddef>
#include <cstdint>

#if defined(__MINGW32__)
#define FLATCUT_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define FLATCUT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FLATCUT_PRINTF(fmt, args)
#endif

// One line of at most 511 characters, then a line feed: to standard output and standard error.
void printInfo(const char* format, ...) FLATCUT_PRINTF(1, 2);
void printError(const char* format, ...) FLATCUT_PRINTF(1, 2);

// "[u]facility/code - text" for an OS error code, in buf; the last OS error is left as found.
char* systemErrorText(char* buf, size_t size, unsigned code);
const char* runtimeErrorText(int errnum);

bool supportStartup();
void supportShutdown();
// Adds an action that supportShutdown runs; false when the library is not started.
bool supportAtShutdown(void (*action)());
// The OS version word of the start-up: major version high byte, minor low byte.
unsigned supportVersionWord();

// First position at or after text that is not a space or a tab.
const char* skipBlanks(const char* text);
// Strict unsigned 32-bit number in base (2 to 36); on any fault, 0xFFFFFFFF with *end == text.
uint32_t parseUnsigned(const char* text, const char** end, unsigned base);

// Comparisons that fold the ASCII letters only.
bool equalsNoCase(const char* a, const char* b);
bool equalsNoCaseN(const char* a, const char* b, size_t length);

bool isAsciiLetter(char c);

// first then second into out (size bytes); false, with out empty, when they do not fit.
bool joinText(char* out, size_t size, const char* first, size_t firstLength, const char* second);
