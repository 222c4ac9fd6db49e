// POSIX backend. The OS error code is errno, so the OS-level and runtime-library errors coincide.

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

namespace {

unsigned readNumber(const char** text) {
    unsigned value = 0;
    while (**text >= '0' && **text <= '9' && value < 0x10000) {
        value = value * 10 + static_cast<unsigned>(**text - '0');
        ++*text;
    }
    return value;
}

// Opens path without blocking on a FIFO and keeps it only when it is a regular file.
int openRegular(const char* path, int flags) {
    int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = error;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int toFd(FileHandle file) { return static_cast<int>(file); }

}  // namespace

bool queryOsVersion(unsigned* major, unsigned* minor) {
    struct utsname name;
    if (uname(&name) != 0) return false;
    const char* p = name.release;
    *major = readNumber(&p);
    *minor = 0;
    if (*p == '.') {
        ++p;
        *minor = readNumber(&p);
    }
    if (*major > 0xFF) *major = 0xFF;
    if (*minor > 0xFF) *minor = 0xFF;
    return true;
}

unsigned lastOsError() { return static_cast<unsigned>(errno); }
void setLastOsError(unsigned code) { errno = static_cast<int>(code); }
unsigned nameTooLongError() { return ENAMETOOLONG; }

size_t osErrorMessage(unsigned code, char* buf, size_t room) {
    const char* text = strerror(static_cast<int>(code));
    size_t length = text ? strlen(text) : 0;
    if (length == 0 || length + 1 > room) return 0;
    memcpy(buf, text, length + 1);
    return length;
}

int runtimeErrno() { return errno; }
void setRuntimeErrno(int value) { errno = value; }
const char* runtimeErrorMessage(int errnum) { return strerror(errnum); }

// Lexical: the current folder joined, "." ".." and repeated slashes folded, links left alone.
bool getFullPath(const char* path, char* out, size_t size) {
    if (path[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    char joined[8192];
    size_t used = 0;
    if (path[0] != '/') {
        if (!getcwd(joined, sizeof joined - 1)) return false;
        used = strlen(joined);
        joined[used++] = '/';
    }
    size_t length = strlen(path);
    if (used + length + 1 > sizeof joined) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(joined + used, path, length + 1);

    // Folded in place: the written part never passes the part still to read.
    size_t outLength = 0;
    for (const char* p = joined; *p;) {
        while (*p == '/') ++p;
        const char* start = p;
        while (*p && *p != '/') ++p;
        size_t part = static_cast<size_t>(p - start);
        if (part == 0 || (part == 1 && start[0] == '.')) continue;
        if (part == 2 && start[0] == '.' && start[1] == '.') {
            while (outLength > 0 && joined[outLength - 1] != '/') --outLength;
            if (outLength > 0) --outLength;
            continue;
        }
        joined[outLength++] = '/';
        memmove(joined + outLength, start, part);
        outLength += part;
    }
    if (outLength == 0) joined[outLength++] = '/';
    if (outLength + 1 > size) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(out, joined, outLength);
    out[outLength] = '\0';
    return true;
}

bool isAbsolutePath(const char* name) { return name[0] == '/'; }

size_t folderPartLength(const char* fullPath) {
    const char* slash = strrchr(fullPath, '/');
    return slash ? static_cast<size_t>(slash - fullPath) + 1 : 0;
}

LockProbe probeLockMarker(const char* path) {
    struct stat st;
    if (lstat(path, &st) == 0) return S_ISDIR(st.st_mode) ? LOCK_DIR : LOCK_FILE;
    if (errno == ENOENT || errno == ENOTDIR) return LOCK_NONE;
    return LOCK_ERROR;
}

FILE* openTextForReading(const char* path) {
    int fd = openRegular(path, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "r");
    if (!stream) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return stream;
}

// CR LF reads as LF, as a Windows text stream gives it, also when the CR ends a full piece.
int readTextLine(FILE* stream, char* buf, int size) {
    if (!fgets(buf, size, stream)) return feof(stream) && !ferror(stream) ? 0 : -1;
    size_t length = strlen(buf);
    if (length >= 2 && buf[length - 2] == '\r' && buf[length - 1] == '\n') {
        buf[length - 2] = '\n';
        buf[length - 1] = '\0';
    } else if (length >= 1 && buf[length - 1] == '\r') {
        int next = getc(stream);
        if (next == '\n')
            buf[length - 1] = '\n';
        else if (next != EOF)
            ungetc(next, stream);
    }
    return 1;
}

void closeText(FILE* stream) { fclose(stream); }

bool openForReading(const char* path, FileHandle* file) {
    int fd = openRegular(path, O_RDONLY);
    if (fd < 0) return false;
    *file = fd;
    return true;
}

bool readFirstSector(FileHandle file, unsigned char sector[512]) {
    memset(sector, 0, 512);
    size_t got = 0;
    while (got < 512) {
        ssize_t n = pread(toFd(file), sector + got, 512 - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool openExclusive(const char* path, FileHandle* file) {
    int fd = openRegular(path, O_RDWR);
    if (fd < 0) return false;
    // A write lease is granted only while no other process has the file open. Its break signal
    // must not end the run half-way, so it is ignored. File systems without leases refuse with
    // EINVAL (or EACCES for a file we do not own): the cut goes on there unguarded.
    signal(SIGIO, SIG_IGN);
    if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0 && (errno == EAGAIN || errno == EBUSY)) {
        int error = errno;
        close(fd);
        errno = error;
        return false;
    }
    *file = fd;
    return true;
}

bool seekFile(FileHandle file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
    return lseek(toFd(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool setEndOfFile(FileHandle file) {
    off_t position = lseek(toFd(file), 0, SEEK_CUR);
    return position >= 0 && ftruncate(toFd(file), position) == 0;
}

// Closing gives up a lease too.
void closeFile(FileHandle file) { close(toFd(file)); }

bool renameNoReplace(const char* oldName, const char* newName) {
    if (renameat2(AT_FDCWD, oldName, AT_FDCWD, newName, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // No RENAME_NOREPLACE here: a hard link fails when the new name exists.
    if (link(oldName, newName) != 0) return false;
    if (unlink(oldName) == 0) return true;
    int error = errno;
    unlink(newName);
    errno = error;
    return false;
}

bool syncFolderOf(const char* path) {
    char folder[4096];
    size_t length = folderPartLength(path);
    if (length == 0) {
        strcpy(folder, ".");
    } else {
        if (length >= sizeof folder) {
            errno = ENAMETOOLONG;
            return false;
        }
        memcpy(folder, path, length);
        folder[length] = '\0';
    }
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    int error = errno;
    close(fd);
    errno = error;
    return synced;
}

bool canOpenForReading(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool createTextExclusive(const char* path, int* fd) {
    *fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return *fd >= 0;
}

bool writeText(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        text += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool syncText(int fd) { return fsync(fd) == 0; }
bool closeTextFile(int fd) { return close(fd) == 0; }
bool removeFile(const char* path) { return unlink(path) == 0; }

int readKey() {
    unsigned char key;
    struct termios saved;
    bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        struct termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    ssize_t n;
    do {
        n = read(STDIN_FILENO, &key, 1);
    } while (n < 0 && errno == EINTR);
    if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return n == 1 ? key : -1;
}
