// Win32 backend: the system's own calls, with the C runtime for streams and the lock probe.

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

HANDLE toHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// An existing file on a disk: a pipe or a console would block or make no sense as one.
bool openDiskFile(const char* path, DWORD access, DWORD share, FileHandle* file) {
    HANDLE handle =
        CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    *file = reinterpret_cast<FileHandle>(handle);
    return true;
}

}  // namespace

bool queryOsVersion(unsigned* major, unsigned* minor) {
    OSVERSIONINFOEXA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
    *major = info.dwMajorVersion > 0xFF ? 0xFF : info.dwMajorVersion;
    *minor = info.dwMinorVersion > 0xFF ? 0xFF : info.dwMinorVersion;
    return true;
}

unsigned lastOsError() { return GetLastError(); }
void setLastOsError(unsigned code) { SetLastError(code); }
unsigned nameTooLongError() { return ERROR_FILENAME_EXCED_RANGE; }

size_t osErrorMessage(unsigned code, char* buf, size_t room) {
    // From the system table, inserts ignored, one line of up to 255 characters.
    return FormatMessageA(0x12FF, nullptr, code, 0x0400, buf, static_cast<DWORD>(room), nullptr);
}

int runtimeErrno() { return errno; }
void setRuntimeErrno(int value) { errno = value; }
const char* runtimeErrorMessage(int errnum) { return strerror(errnum); }

bool getFullPath(const char* path, char* out, size_t size) {
    DWORD length = GetFullPathNameA(path, static_cast<DWORD>(size), out, nullptr);
    if (length == 0) return false;
    if (length >= size) {
        // It did not fit, and out holds no path.
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

bool isAbsolutePath(const char* name) {
    return strchr(name, ':') != nullptr || name[0] == '\\' || name[0] == '/';
}

size_t folderPartLength(const char* fullPath) {
    const char* slash = strrchr(fullPath, '\\');
    return slash ? static_cast<size_t>(slash - fullPath) + 1 : 0;
}

LockProbe probeLockMarker(const char* path) {
    struct _finddata64i32_t found;
    intptr_t search = _findfirst64i32(path, &found);
    if (search == -1) return errno == ENOENT ? LOCK_NONE : LOCK_ERROR;
    _findclose(search);
    return (found.attrib & _A_SUBDIR) ? LOCK_DIR : LOCK_FILE;
}

FILE* openTextForReading(const char* path) {
    FILE* stream = fopen(path, "r");
    if (!stream) return nullptr;
    struct _stat64 st;
    if (_fstat64(_fileno(stream), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        fclose(stream);
        errno = EACCES;
        return nullptr;
    }
    return stream;
}

int readTextLine(FILE* stream, char* buf, int size) {
    if (fgets(buf, size, stream)) return 1;
    return feof(stream) && !ferror(stream) ? 0 : -1;
}

void closeText(FILE* stream) { fclose(stream); }

bool openForReading(const char* path, FileHandle* file) {
    return openDiskFile(path, GENERIC_READ, FILE_SHARE_READ, file);
}

bool readFirstSector(FileHandle file, unsigned char sector[512]) {
    memset(sector, 0, 512);
    DWORD got = 0;
    while (got < 512) {
        DWORD n = 0;
        if (!ReadFile(toHandle(file), sector + got, 512 - got, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

bool openExclusive(const char* path, FileHandle* file) {
    return openDiskFile(path, GENERIC_READ | GENERIC_WRITE, 0, file);
}

bool seekFile(FileHandle file, uint64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(toHandle(file), distance, nullptr, FILE_BEGIN) != 0;
}

bool setEndOfFile(FileHandle file) { return SetEndOfFile(toHandle(file)) != 0; }

void closeFile(FileHandle file) { CloseHandle(toHandle(file)); }

bool renameNoReplace(const char* oldName, const char* newName) {
    // Without MOVEFILE_REPLACE_EXISTING it fails when newName exists; write-through makes the
    // rename durable before the extent is cut.
    return MoveFileExA(oldName, newName, MOVEFILE_WRITE_THROUGH) != 0;
}

bool syncFolderOf(const char*) { return true; }

bool canOpenForReading(const char* path) {
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return false;
    _close(fd);
    return true;
}

bool createTextExclusive(const char* path, int* fd) {
    *fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return *fd >= 0;
}

namespace {

bool writeAll(int fd, const char* bytes, unsigned length) {
    while (length > 0) {
        int n = _write(fd, bytes, length);
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes += n;
        length -= static_cast<unsigned>(n);
    }
    return true;
}

}  // namespace

// Text mode done here, so that the count written is the count asked for: LF becomes CR LF.
bool writeText(int fd, const char* text, size_t length) {
    char chunk[1024];
    unsigned used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (used + 2 > sizeof chunk) {
            if (!writeAll(fd, chunk, used)) return false;
            used = 0;
        }
        if (text[i] == '\n') chunk[used++] = '\r';
        chunk[used++] = text[i];
    }
    return writeAll(fd, chunk, used);
}

bool syncText(int fd) { return _commit(fd) == 0; }
bool closeTextFile(int fd) { return _close(fd) == 0; }
bool removeFile(const char* path) { return _unlink(path) == 0; }

int readKey() { return _getch(); }
