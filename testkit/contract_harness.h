// What the two contract checks share as each drives one input: the input as
// the plug-in reads it, the input's own choices, and the checks that follow
// every call. Only contract_tolvane.cpp and contract_pellimor.cpp include it.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "contract.h"

// What a host's variable holds before a call that must leave it alone.
const HLOCAL UNTOUCHED = (HLOCAL)(uintptr_t)0x5EED0000u;

// The input as the plug-in reads it: zeros past the end.
struct View {
    const uint8_t *data;
    size_t size;
};

// Byte `i` counted from the end: the input's own choice of names, positions,
// prefixes, cancel points and flag bits.
inline uint8_t choice(View v, size_t i) { return i < v.size ? v.data[v.size - 1 - i] : 0; }

// One input under check.
struct ContractInput {
    ContractRun *run;
    const PluginCalls *p;
    View input;
    uint8_t *image;         // a copy of the input exactly its size: any read past its end is caught
    int64_t live_at_start;  // the live blocks before the first call
};

// Starts the check of `size` bytes at `data`; contract_input_end releases it.
ContractInput contract_input(ContractRun *run, const uint8_t *data, size_t size);
void contract_input_end(ContractInput *in);

// Writes `prefix` bytes of `fill`, then the input, as the file `path`; 0,
// with the failure recorded, when it cannot.
int contract_input_file(ContractInput *in, const std::string &path, uint32_t prefix, char fill);

// The live blocks are back where they were at the start; otherwise records
// the failure.
int blocks_back(ContractInput *in, const char *what);

// The call answered `want`; otherwise records the failure with both codes.
int expect_code(ContractInput *in, const char *what, int32_t got, int32_t want);

// Calls `call` with a record of 0xA5 bytes: it must be refused with
// RESULT_INTERNAL_ERROR and the record left as it was.
template <typename Record, typename Call>
void expect_record_kept(ContractInput *in, const char *what, Call call) {
    Record record, before;
    memset(&record, 0xA5, sizeof record);
    before = record;
    expect_code(in, what, call(&record), RESULT_INTERNAL_ERROR);
    if (memcmp(&record, &before, sizeof record) != 0) contract_fail(in->run, "%s: wrote the host's record", what);
}
