#include "app/run.h"

#include <cstdio>
#include <cstring>

#include "descriptor/descriptor.h"
#include "descriptor/writer.h"
#include "platform/platform.h"
#include "shrink/shrink.h"
#include "support/support.h"

#ifndef FLATCUT_VERSION
#define FLATCUT_VERSION "0.0.0"
#endif

namespace {

const size_t PATH_SIZE = 260;
const size_t ERROR_TEXT_SIZE = 256;
const char* const LOCK_SUFFIX = ".lck";
const size_t SUFFIX_LENGTH = 4;  // ".lck", ".new" and ".bak" alike

const char USAGE[] =
    "\n"
    "flatcut " FLATCUT_VERSION
    "\n"
    "\n"
    "Usage:\n"
    "\n"
    "flatcut [-t] <VD descriptor file>\n"
    "\n"
    "With -t option, only .new descriptor file is created, old files are unchanged.\n"
    "\n";

struct Run {
    bool testMode;
    const char* argument;
    char fullPath[PATH_SIZE];
    char lockPath[PATH_SIZE];
    char errorText[ERROR_TEXT_SIZE];
    DescriptorRecord record;
    ShrinkPlan plan;
    char newPath[PATH_SIZE];
};

// Full path and lock marker path. Both, and the .new and .bak names made from the argument,
// must leave room for their four-character suffix in their buffers.
int resolvePaths(Run* run) {
    bool resolved = strlen(run->argument) + SUFFIX_LENGTH < PATH_SIZE;
    if (!resolved)
        setLastOsError(nameTooLongError());
    else
        resolved = getFullPath(run->argument, run->fullPath, PATH_SIZE - SUFFIX_LENGTH);
    if (!resolved) {
        printError("Cannot get full path for \"%s\" (%s)", run->argument,
                   systemErrorText(run->errorText, sizeof run->errorText, lastOsError()));
        return 3;
    }
    joinText(run->lockPath, sizeof run->lockPath, run->fullPath, strlen(run->fullPath),
             LOCK_SUFFIX);
    return 0;
}

int checkLock(const Run* run) {
    LockProbe probe = probeLockMarker(run->lockPath);
    if (probe == LOCK_NONE) return 0;
    if (probe == LOCK_ERROR) {
        printError("Error while looking for the lock file/dir \"%s\" (%s)", run->lockPath,
                   runtimeErrorText(runtimeErrno()));
    } else {
        printError("Disk is locked (%s \"%s\" exists)", probe == LOCK_DIR ? "dir" : "file",
                   run->lockPath);
    }
    return 3;
}

int runStages(int argc, char** argv, Run* run) {
    if (argc < 2) {
        fputs(USAGE, stdout);
        return 16;
    }
    run->testMode = strcmp(argv[1], "-t") == 0;
    int descriptorIndex = run->testMode ? 2 : 1;
    if (descriptorIndex >= argc) {
        printError("No descriptor file specification");
        return 18;
    }
    run->argument = argv[descriptorIndex];

    int result = resolvePaths(run);
    if (result != 0) return result;

    FILE* descriptor = openTextForReading(run->fullPath);
    if (!descriptor) {
        printError("Cannot open descriptor file \"%s\" (%s)", run->fullPath,
                   runtimeErrorText(runtimeErrno()));
        return 3;
    }
    printInfo("Desc file: \"%s\"", run->fullPath);
    result = checkLock(run);
    if (result == 0) result = readDescriptor(descriptor, &run->record);
    closeText(descriptor);
    if (result != 0) return result;

    result = scanPartitionTable(&run->record, run->fullPath, run->errorText, sizeof run->errorText,
                                &run->plan);
    if (result == 0 && !run->testMode) result = confirmShrink(&run->plan);
    if (result == 0)
        result = writeDescriptor(&run->record, &run->plan, run->argument, run->newPath);
    if (result != 0) return result;
    if (run->testMode) {
        printInfo("New descriptor written to %s, no old files altered", run->newPath);
        return 0;
    }
    return commitShrink(run->argument, run->newPath, &run->plan, run->errorText,
                        sizeof run->errorText);
}

}  // namespace

int runFlatcut(int argc, char** argv) {
    int result = 2;
    if (!supportStartup()) {
        printError("Cannot init application");
    } else {
        Run run;
        memset(&run, 0, sizeof run);
        result = runStages(argc, argv, &run);
    }
    supportShutdown();
    fflush(stdout);
    return result;
}
