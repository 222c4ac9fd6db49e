#pragma once

// Scripted faults of the test build of the platform layer: each operation that can fail can be
// made to fail at its n-th call with a given error code; everything else reaches the real
// backend. The shipped tool never links this.

enum FaultOp {
    FAULT_OS_VERSION,
    FAULT_FULL_PATH,
    FAULT_LOCK_PROBE,
    FAULT_OPEN_TEXT,
    FAULT_READ_LINE,
    FAULT_OPEN_READ,
    FAULT_READ_SECTOR,
    FAULT_CREATE_TEXT,
    FAULT_WRITE_TEXT,
    FAULT_SYNC_TEXT,
    FAULT_CLOSE_TEXT,
    FAULT_RENAME,
    FAULT_SYNC_FOLDER,
    FAULT_OPEN_EXCLUSIVE,
    FAULT_SEEK,
    FAULT_SET_END,
    FAULT_ERROR_MESSAGE,
    FAULT_COUNT
};

// Fails the nth call (1 = the first) of op from now on, with code as the OS error or the
// runtime error number, whichever the operation reports.
void faultArm(FaultOp op, unsigned nth, unsigned code);
// Forgets every armed fault and call count; keys are what readKey returns, one a call, then -1.
void faultReset(const char* keys);
unsigned faultCalls(FaultOp op);
