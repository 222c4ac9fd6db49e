// The real POSIX backend inside namespace real, beneath the scripted faults. Its system headers
// come first, so that including them again inside the namespace does nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace real {
#include "platform/posix.cpp"
}
