#ifndef FLATCUT_PLATFORM_H
#define FLATCUT_PLATFORM_H

// The operating-system services flatcut relies on, one backend per system (posix.cpp, win32.cpp),
// chosen by the build. Nothing here prints or exits: each call returns its result and leaves the
// error where the caller's message finds it, lastOsError() after the OS-level calls and
// runtimeErrno() after the runtime-library ones (streams, the lock probe, the .new file).

#include <cstddef>
#include <cstdint>
#include <cstdio>

typedef intptr_t FileHandle;
const FileHandle NO_FILE = -1;

enum LockProbe { LOCK_NONE, LOCK_FILE, LOCK_DIR, LOCK_ERROR };

#include "platform/platform_calls.h"

#endif
