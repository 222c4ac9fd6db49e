// Test helper: holds a file open the way the tool opens an extent for reading, from another
// process, until its standard input ends. Prints "ready" once the file is open.

#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
    FileHandle file = NO_FILE;
    if (argc < 2 || !openForReading(argv[1], &file)) return 1;
    puts("ready");
    fflush(stdout);
    while (getchar() != EOF) {
    }
    closeFile(file);
    return 0;
}
