#include "app/run.h"

int main(int argc, char** argv) { return runFlatcut(argc, argv); }
