#include "faults.h"

#include <cstring>

#include "platform/platform.h"

namespace real {
#include "platform/platform_calls.h"
}

namespace {

unsigned failAt[FAULT_COUNT];
unsigned codes[FAULT_COUNT];
unsigned calls[FAULT_COUNT];
char keys[16];
unsigned keysRead;

bool failsNow(FaultOp op) {
    ++calls[op];
    return failAt[op] != 0 && calls[op] == failAt[op];
}

bool osFault(FaultOp op) {
    if (!failsNow(op)) return false;
    real::setLastOsError(codes[op]);
    return true;
}

bool runtimeFault(FaultOp op) {
    if (!failsNow(op)) return false;
    real::setRuntimeErrno(static_cast<int>(codes[op]));
    return true;
}

}  // namespace

void faultArm(FaultOp op, unsigned nth, unsigned code) {
    failAt[op] = calls[op] + nth;
    codes[op] = code;
}

void faultReset(const char* script) {
    memset(failAt, 0, sizeof failAt);
    memset(calls, 0, sizeof calls);
    strncpy(keys, script ? script : "", sizeof keys - 1);
    keys[sizeof keys - 1] = '\0';
    keysRead = 0;
}

unsigned faultCalls(FaultOp op) { return calls[op]; }

bool queryOsVersion(unsigned* major, unsigned* minor) {
    if (failsNow(FAULT_OS_VERSION)) return false;
    return real::queryOsVersion(major, minor);
}

unsigned lastOsError() { return real::lastOsError(); }
void setLastOsError(unsigned code) { real::setLastOsError(code); }
unsigned nameTooLongError() { return real::nameTooLongError(); }

size_t osErrorMessage(unsigned code, char* buf, size_t room) {
    if (failsNow(FAULT_ERROR_MESSAGE)) return 0;
    return real::osErrorMessage(code, buf, room);
}

int runtimeErrno() { return real::runtimeErrno(); }
void setRuntimeErrno(int value) { real::setRuntimeErrno(value); }
const char* runtimeErrorMessage(int errnum) { return real::runtimeErrorMessage(errnum); }

bool getFullPath(const char* path, char* out, size_t size) {
    if (osFault(FAULT_FULL_PATH)) return false;
    return real::getFullPath(path, out, size);
}

bool isAbsolutePath(const char* name) { return real::isAbsolutePath(name); }
size_t folderPartLength(const char* fullPath) { return real::folderPartLength(fullPath); }

LockProbe probeLockMarker(const char* path) {
    if (runtimeFault(FAULT_LOCK_PROBE)) return LOCK_ERROR;
    return real::probeLockMarker(path);
}

FILE* openTextForReading(const char* path) {
    if (runtimeFault(FAULT_OPEN_TEXT)) return nullptr;
    return real::openTextForReading(path);
}

int readTextLine(FILE* stream, char* buf, int size) {
    if (runtimeFault(FAULT_READ_LINE)) return -1;
    return real::readTextLine(stream, buf, size);
}

void closeText(FILE* stream) { real::closeText(stream); }

bool openForReading(const char* path, FileHandle* file) {
    if (osFault(FAULT_OPEN_READ)) return false;
    return real::openForReading(path, file);
}

bool readFirstSector(FileHandle file, unsigned char sector[512]) {
    if (osFault(FAULT_READ_SECTOR)) return false;
    return real::readFirstSector(file, sector);
}

bool openExclusive(const char* path, FileHandle* file) {
    if (osFault(FAULT_OPEN_EXCLUSIVE)) return false;
    return real::openExclusive(path, file);
}

bool seekFile(FileHandle file, uint64_t offset) {
    if (osFault(FAULT_SEEK)) return false;
    return real::seekFile(file, offset);
}

bool setEndOfFile(FileHandle file) {
    if (osFault(FAULT_SET_END)) return false;
    return real::setEndOfFile(file);
}

void closeFile(FileHandle file) { real::closeFile(file); }

bool renameNoReplace(const char* oldName, const char* newName) {
    if (osFault(FAULT_RENAME)) return false;
    return real::renameNoReplace(oldName, newName);
}

bool syncFolderOf(const char* path) {
    if (osFault(FAULT_SYNC_FOLDER)) return false;
    return real::syncFolderOf(path);
}

bool canOpenForReading(const char* path) { return real::canOpenForReading(path); }

bool createTextExclusive(const char* path, int* fd) {
    if (runtimeFault(FAULT_CREATE_TEXT)) return false;
    return real::createTextExclusive(path, fd);
}

bool writeText(int fd, const char* text, size_t length) {
    if (runtimeFault(FAULT_WRITE_TEXT)) {
        // Half of it reaches the file, as a full disk would leave it.
        real::writeText(fd, text, length / 2);
        real::setRuntimeErrno(static_cast<int>(codes[FAULT_WRITE_TEXT]));
        return false;
    }
    return real::writeText(fd, text, length);
}

bool syncText(int fd) {
    if (runtimeFault(FAULT_SYNC_TEXT)) return false;
    return real::syncText(fd);
}

bool closeTextFile(int fd) {
    // The descriptor is closed either way, as close does even when it reports a fault.
    bool closed = real::closeTextFile(fd);
    if (runtimeFault(FAULT_CLOSE_TEXT)) return false;
    return closed;
}

bool removeFile(const char* path) { return real::removeFile(path); }

int readKey() {
    if (keysRead >= strlen(keys)) return -1;
    return static_cast<unsigned char>(keys[keysRead++]);
}
