#pragma once

// One whole run of flatcut: the result is the process exit status.
int runFlatcut(int argc, char** argv);
