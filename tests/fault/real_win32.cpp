// The real Win32 backend inside namespace real, beneath the scripted faults. Its system headers
// come first, so that including them again inside the namespace does nothing.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace real {
#include "platform/win32.cpp"
}
