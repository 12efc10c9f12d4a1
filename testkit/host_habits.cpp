#include "host_habits.h"

#include "platform.h"

#ifndef _WIN32
#include "winlayer_testing.h"
#endif

#ifdef _WIN32

namespace {

BOOL WINAPI feature_absent(DWORD) { return FALSE; }

// The slot of `module`'s import table that holds `target`, or null.
void **import_slot(HMODULE module, void *target) {
    uint8_t *base = (uint8_t *)module;
    const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return nullptr;
    for (auto *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress); d->Name; ++d)
        for (auto *t = (IMAGE_THUNK_DATA *)(base + d->FirstThunk); t->u1.Function; ++t)
            if ((void *)t->u1.Function == target) return (void **)&t->u1.Function;
    return nullptr;
}

}  // namespace

int feature_query_predates(void *module, int predates) {
    void *real = (void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsProcessorFeaturePresent");
    void *absent = (void *)feature_absent;
    void **slot = import_slot((HMODULE)module, real);
    if (!slot) slot = import_slot((HMODULE)module, absent);
    DWORD was;
    if (!slot || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return 0;
    *slot = predates ? absent : real;
    VirtualProtect(slot, sizeof *slot, was, &was);
    return 1;
}

#else

int feature_query_predates(void *, int predates) {
    winlayer_predate_feature_query(predates);
    return 1;
}

#endif
