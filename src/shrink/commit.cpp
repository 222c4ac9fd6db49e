#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "shrink/shrink.h"
#include "support/support.h"

int confirmShrink(const ShrinkPlan* plan) {
    SizeFigures figures = sizeFigures(plan->newSectors);
    // The listing stands on the screen before the question, wherever standard output goes.
    fflush(stdout);
    fprintf(stderr, "Disk file size will be set to %u sectors (%u Gb, %u Mb)\nAre you sure? (Y/N) ",
            plan->newSectors, figures.gb, figures.mb);
    int key = readKey();
    if (key < 0)
        fputc('\n', stderr);
    else
        fprintf(stderr, "%c\n", key);
    return key == 'y' || key == 'Y' ? 0 : 14;
}

int commitShrink(const char* argument, const char* newPath, const ShrinkPlan* plan, char* errorText,
                 size_t errorTextSize) {
    char bakPath[260];
    joinText(bakPath, sizeof bakPath, argument, strlen(argument), ".bak");
    if (!renameNoReplace(argument, bakPath)) {
        printError("Cannot rename \"%s\" to \"%s\" (%s)", argument, bakPath,
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        return 10;
    }
    if (!renameNoReplace(newPath, argument)) {
        printError("Cannot rename \"%s\" to \"%s\" (%s)", newPath, argument,
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        return 11;
    }
    // The renames reach the disk before the cut, so a crash cannot pair the old descriptor with
    // a cut extent. Where the folder cannot be synced the system offers nothing better.
    syncFolderOf(argument);

    FileHandle extent = NO_FILE;
    if (!openExclusive(plan->extentPath, &extent)) {
        printError("Cannot open disk file \"%s\" for resizing (%s)", plan->extentPath,
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        return 17;
    }
    int result = 0;
    if (!seekFile(extent, plan->newByteSize)) {
        printError("Cannot move disk file pointer (%s)",
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        result = 12;
    } else if (!setEndOfFile(extent)) {
        printError("Cannot set file size (%s)",
                   systemErrorText(errorText, errorTextSize, lastOsError()));
        result = 13;
    } else {
        printInfo("Operation completed successfully, old descriptor renamed to %s", bakPath);
    }
    closeFile(extent);
    return result;
}
