// The calls of the platform layer, without an include guard: platform.h includes it once, and the
// test build of the layer includes it again inside a namespace of its own to reach the real
// backend beneath its scripted faults.

// Start-up query: false when the system cannot be identified or is not of a supported family.
bool queryOsVersion(unsigned* major, unsigned* minor);

unsigned lastOsError();
void setLastOsError(unsigned code);
// The OS code for a name that does not fit its buffer.
unsigned nameTooLongError();
// The system's one-line text for code, written into room bytes at most (terminator included).
// Returns the characters written; 0 when there is no text or it does not fit.
size_t osErrorMessage(unsigned code, char* buf, size_t room);

int runtimeErrno();
void setRuntimeErrno(int value);
const char* runtimeErrorMessage(int errnum);

// Absolute form of path in out (size bytes). False with the last OS error set, the too-long
// code included when the result does not fit.
bool getFullPath(const char* path, char* out, size_t size);
// True for a name that names its own root (it is not joined to the descriptor's folder).
bool isAbsolutePath(const char* name);
// Length of the folder part of a full path, its final separator included.
size_t folderPartLength(const char* fullPath);

// LOCK_ERROR leaves the runtime error number set.
LockProbe probeLockMarker(const char* path);

// Descriptor stream, text mode, regular files only. Null with the runtime error number set.
FILE* openTextForReading(const char* path);
// One line of at most size - 1 characters, up to and including a line feed.
// 1: a line was read; 0: end of file, nothing read; -1: failure.
int readTextLine(FILE* stream, char* buf, int size);
void closeText(FILE* stream);

// The flat extent, read-shared: regular files only. False with the last OS error set.
bool openForReading(const char* path, FileHandle* file);
// Up to 512 bytes from the start; the bytes not read are zero.
bool readFirstSector(FileHandle file, unsigned char sector[512]);
// Read and write access with nobody else holding the file open.
bool openExclusive(const char* path, FileHandle* file);
bool seekFile(FileHandle file, uint64_t offset);
// The file ends at the current position.
bool setEndOfFile(FileHandle file);
void closeFile(FileHandle file);

// Renames, never replacing an existing newName. False with the last OS error set.
bool renameNoReplace(const char* oldName, const char* newName);
// Makes renames in path's folder durable where the system needs it. False with the OS error set.
bool syncFolderOf(const char* path);

// True when something of that name can be opened for reading.
bool canOpenForReading(const char* path);
// The .new file: created exclusively, written in text mode. Each returns false with the
// runtime error number set.
bool createTextExclusive(const char* path, int* fd);
bool writeText(int fd, const char* text, size_t length);
bool syncText(int fd);
bool closeTextFile(int fd);
bool removeFile(const char* path);

// One key from the console without echo; -1 at the end of input.
int readKey();
