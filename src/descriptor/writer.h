#pragma once

#include <cstddef>

#include "descriptor/descriptor.h"
#include "shrink/shrink.h"

// The whole new descriptor text, with the plan's size and cylinders; its length, or 0 when it
// does not fit in size bytes.
size_t formatDescriptor(const DescriptorRecord* record, const ShrinkPlan* plan, char* out,
                        size_t size);
// Writes the argument's .new file (its path into newPath, 260 bytes): 0, or 9 after one line.
// The file is created exclusively and is on the disk when this returns 0; a partial one is
// removed.
int writeDescriptor(const DescriptorRecord* record, const ShrinkPlan* plan, const char* argument,
                    char* newPath);
