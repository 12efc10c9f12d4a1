// What tests and benchmarks ask of the native Win32 layer and Windows does
// not offer: counts of the calling thread's live memory blocks and of their
// bytes, and fault injection (the k-th call of a chosen function fails). Hosts only: no
// plug-in includes it.
#pragma once

#include <stdint.h>

#include "winlayer.h"

// Blocks allocated and not yet freed by the calling thread.
int64_t winlayer_live_blocks(void);

// Bytes in those blocks, counted at the sizes LocalAlloc was asked for, and
// the most they came to since the last winlayer_restart_block_peak, which
// starts the peak over at the bytes held then.
int64_t winlayer_block_bytes(void);
int64_t winlayer_block_peak(void);
void winlayer_restart_block_peak(void);

// Functions that can be made to fail.
enum WinlayerCall {
    WINLAYER_CREATE_FILE,
    WINLAYER_READ_FILE,
    WINLAYER_WRITE_FILE,
    WINLAYER_SET_FILE_POINTER,
    WINLAYER_SET_END_OF_FILE,
    WINLAYER_CLOSE_HANDLE,
    WINLAYER_LOCAL_ALLOC,
    WINLAYER_LOCAL_LOCK,
    WINLAYER_CALL_KINDS
};

enum WinlayerFault {
    WINLAYER_FAULT_FAIL,  // the call fails and sets an error number
    WINLAYER_FAULT_SHORT  // WriteFile: succeeds but writes half the bytes; ReadFile:
                          // succeeds with half the bytes, as where a file ends
};

// Calls of each function made by this thread since the last reset.
uint32_t winlayer_call_count(enum WinlayerCall call);

// Makes the k-th call (counted from 1 after the last reset) of `call` on this
// thread fail as `fault` says; k = 0 disarms it. One fault is armed at a time.
void winlayer_inject(enum WinlayerCall call, uint32_t k, enum WinlayerFault fault);

// With `predates` non-zero, IsProcessorFeaturePresent answers FALSE on this
// thread, as systems that predate its SSSE3 and AVX2 answers do for those.
void winlayer_predate_feature_query(int predates);

// Clears the call counts and disarms any fault, for this thread.
void winlayer_reset_calls(void);
