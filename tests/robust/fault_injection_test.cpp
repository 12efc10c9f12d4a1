// Failing platform calls, one at a time: for each export on a representative
// input, every call the export makes to each Win32 function is made to fail in
// turn (the native layer's fault injection), and the export must answer with
// the code for that failure, leave no block behind, restore a lent handle and
// never claim success for a wrong output file. GetFile's reads of a member
// from a file are also made to come short in turn, as where the file ends
// inside the member: the call must end there with RESULT_READ_ERROR. The
// scenarios alternate between the 8-bit exports and the wide ones (through
// plugin_calls.h, whose conversions make no counted calls).
#include <stdio.h>
#include <string.h>
#include <ctype.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contract.h"
#include "plugin_calls.h"
#include "test_support.h"
#include "bmp16_writer.h"
#include "fpk_writer.h"

namespace {

const HLOCAL UNTOUCHED = (HLOCAL)(uintptr_t)0x5EED0000u;
const WinlayerCall ALL_CALLS[] = {
    WINLAYER_CREATE_FILE, WINLAYER_READ_FILE,   WINLAYER_WRITE_FILE, WINLAYER_SET_FILE_POINTER,
    WINLAYER_SET_END_OF_FILE, WINLAYER_LOCAL_ALLOC, WINLAYER_LOCAL_LOCK, WINLAYER_CLOSE_HANDLE,
};

// The name of a counted call; the layer counts CreateFileA and CreateFileW
// as one kind.
const char *call_name(WinlayerCall c, int wide) {
    switch (c) {
    case WINLAYER_CREATE_FILE: return wide ? "CreateFileW" : "CreateFileA";
    case WINLAYER_READ_FILE: return "ReadFile";
    case WINLAYER_WRITE_FILE: return "WriteFile";
    case WINLAYER_SET_FILE_POINTER: return "SetFilePointer";
    case WINLAYER_SET_END_OF_FILE: return "SetEndOfFile";
    case WINLAYER_CLOSE_HANDLE: return "CloseHandle";
    case WINLAYER_LOCAL_ALLOC: return "LocalAlloc";
    case WINLAYER_LOCAL_LOCK: return "LocalLock";
    default: return "?";
    }
}

// What one call of an export left for the host. Only comparisons are made
// while a fault is armed: blocks are taken over, and the handle examined,
// after the plug-in's calls have been counted.
struct Outcome {
    int32_t code;         // result code, or IsSupported's answer
    int host_untouched;   // the host's variable or record kept the value it had
    int host_null;        // the host's variable(s) null
    HLOCAL blocks[2];     // handed-over blocks, taken over after the call
    std::string content;  // the record, output file or blocks' bytes
    int output_present;   // the output file exists
    int position_kept;    // a lent handle is back where the host left it
};

// How an export uses the platform, which decides the code each failure gives.
enum Shape {
    PROBE,          // IsSupported on a lent handle: any failure answers 0
    LIST,           // GetArchiveInfo: the host's variable null on failure
    FIND,           // GetFileInfo: the host's record untouched on failure
    MEMBER_MEMORY,  // GetFile to memory: the host's variable untouched on failure
    MEMBER_FOLDER,  // GetFile to a folder: output created, written, cut to length, closed
    PICTURE_INFO,   // GetPictureInfo: the record untouched on failure
    PICTURE,        // GetPicture: both variables null on failure
};

struct Scenario {
    std::string name;
    Shape shape;
    int file_source;  // the first CreateFile opens the input
    std::function<Outcome(int wide)> run;  // calls the 8-bit exports, or the wide ones
    uint32_t member_reads = 0;  // the last ReadFile calls, which read a member from the file
    int wide = 0;               // the scenario calls the wide exports
};

constexpr uint32_t ARCHIVE_OFFSET = 37;
constexpr uint32_t BITMAP_OFFSET = 11;
constexpr uint32_t PROBE_AT = 5;
constexpr uint32_t MEMBER_SIZE = 100;  // second.bin, the member GetFile extracts

// GetFile's reads of a member: one, or one per progress step and a remainder.
uint32_t member_read_calls(uint32_t size, int callback) {
    if (!callback) return 1;
    uint32_t steps = size / 32 ? 32 : size;
    uint32_t chunk = size / 32 ? size / 32 : 1;
    return steps + (steps * chunk < size ? 1 : 0);
}

struct Fixture {
    LoadedPlugin tolvane, pellimor;
    std::array<PluginCalls, 2> tolvane_calls, pellimor_calls;  // their 8-bit and wide exports
    std::string dir;
    std::string out;             // GetFile's folder
    std::string archive;         // members from the file's start
    std::string offset_archive;  // the same archive ARCHIVE_OFFSET bytes into its file
    std::string big_archive;     // 5000 members: the directory is read and grown in steps
    std::string bitmap;          // a bitmap BITMAP_OFFSET bytes into its file, rows after a gap
    std::string probe_file;      // PROBE_AT junk bytes, then the archive
    std::string probe_bitmap;    // PROBE_AT junk bytes, then the bitmap
    Bytes archive_bytes, bitmap_bytes;
    uint32_t member_position;
    HANDLE lent;                 // the host's handle for IsSupported
};

Fixture *fixture() {
    static Fixture *f = [] {
        Fixture *x = new Fixture;
        x->tolvane = test_load_tolvane();
        x->pellimor = test_load_pellimor();
        x->tolvane_calls = test_both_widths(&x->tolvane);
        x->pellimor_calls = test_both_widths(&x->pellimor);
        x->dir = test_scratch_dir();
        x->out = test_path(x->dir, "out");
        x->archive_bytes = make_fpk({{"first.txt", pattern_bytes(7, 1)},
                                     {"second.bin", pattern_bytes(MEMBER_SIZE, 2)},
                                     {"third", pattern_bytes(40, 3)}});
        x->member_position = 4 + 3 * 24 + 7;
        std::vector<FpkMember> many;
        for (int i = 0; i < 5000; ++i) many.push_back({"m" + std::to_string(i), pattern_bytes(1, i)});
        x->bitmap_bytes = make_bmp16(Bmp16Shape{5, 4, 0xF800, 0x07E0, 0x001F, 70, 9});
        auto shifted = [](const Bytes &b, uint32_t by) {
            Bytes s(by + b.size(), 0xCC);
            std::copy(b.begin(), b.end(), s.begin() + by);
            return s;
        };
        x->archive = test_path(x->dir, "a.fpk");
        x->offset_archive = test_path(x->dir, "offset.fpk");
        x->big_archive = test_path(x->dir, "big.fpk");
        x->bitmap = test_path(x->dir, "b.bmp");
        x->probe_file = test_path(x->dir, "probe.fpk");
        x->probe_bitmap = test_path(x->dir, "probe.bmp");
        test_write_file(x->archive, x->archive_bytes);
        test_write_file(x->offset_archive, shifted(x->archive_bytes, ARCHIVE_OFFSET));
        test_write_file(x->big_archive, make_fpk(many));
        test_write_file(x->bitmap, shifted(x->bitmap_bytes, BITMAP_OFFSET));
        test_write_file(x->probe_file, shifted(x->archive_bytes, PROBE_AT));
        test_write_file(x->probe_bitmap, shifted(x->bitmap_bytes, PROBE_AT));
        x->lent = INVALID_HANDLE_VALUE;
        return x;
    }();
    return f;
}

const PluginCalls &tolvane(int wide) { return fixture()->tolvane_calls[wide]; }
const PluginCalls &pellimor(int wide) { return fixture()->pellimor_calls[wide]; }

Outcome outcome(int32_t code) { return Outcome{code, 0, 0, {nullptr, nullptr}, "", 0, 1}; }

int32_t WINAPI go_on(int32_t, int32_t, LONG_PTR) { return 0; }

Outcome listed(int32_t code, HLOCAL info) {
    Outcome o = outcome(code);
    o.host_untouched = info == UNTOUCHED;
    o.host_null = info == nullptr;
    if (info && info != UNTOUCHED) o.blocks[0] = info;
    return o;
}

Outcome delivered(int32_t code, HLOCAL block) {
    Outcome o = outcome(code);
    o.host_untouched = block == UNTOUCHED;
    if (block && block != UNTOUCHED) o.blocks[0] = block;
    return o;
}

Outcome written(int32_t code, const std::string &path) {
    Outcome o = outcome(code);
    o.output_present = test_file_exists(path);
    Bytes b = test_read_file(path);
    o.content.assign(b.begin(), b.end());
    return o;
}

// The exports on their inputs. Each call reaches the fixture itself, so that
// the list can be made before the plug-ins are loaded.
std::vector<Scenario> scenarios() {
    std::vector<Scenario> s;
    s.push_back({"tolvane IsSupported(handle)", PROBE, 0,
                 [](int wide) { Fixture *f = fixture(); return outcome(call_is_supported(&tolvane(wide), "probe.fpk", f->lent)); }});
    s.push_back({"tolvane GetArchiveInfo(file at offset)", LIST, 1, [](int wide) {
                     Fixture *f = fixture();
                     HLOCAL info = UNTOUCHED;
                     int32_t code = call_get_archive_info(&tolvane(wide), f->offset_archive.c_str(),
                                                                ARCHIVE_OFFSET, SOURCE_FILE, &info);
                     return listed(code, info);
                 }});
    s.push_back({"tolvane GetArchiveInfo(file, 5000 members)", LIST, 1, [](int wide) {
                     Fixture *f = fixture();
                     HLOCAL info = UNTOUCHED;
                     int32_t code = call_get_archive_info(&tolvane(wide), f->big_archive.c_str(), 0,
                                                                SOURCE_FILE, &info);
                     return listed(code, info);
                 }});
    s.push_back({"tolvane GetArchiveInfo(memory)", LIST, 0, [](int wide) {
                     Fixture *f = fixture();
                     HLOCAL info = UNTOUCHED;
                     int32_t code = call_get_archive_info(&tolvane(wide), 
                         (const char *)f->archive_bytes.data(), (LONG_PTR)f->archive_bytes.size(),
                         SOURCE_MEMORY, &info);
                     return listed(code, info);
                 }});
    s.push_back({"tolvane GetFileInfo(file at offset, ignoring case)", FIND, 1, [](int wide) {
                     Fixture *f = fixture();
                     FileInfoRecord r;
                     memset(&r, 0xA5, sizeof r);
                     FileInfoRecord before = r;
                     Outcome o = outcome(call_get_file_info(&tolvane(wide), 
                         f->offset_archive.c_str(), ARCHIVE_OFFSET, "SECOND.BIN",
                         SOURCE_FILE | MATCH_IGNORE_CASE, &r));
                     o.host_untouched = memcmp(&r, &before, sizeof r) == 0;
                     o.content.assign((const char *)&r, sizeof r);
                     return o;
                 }});
    for (int callback = 0; callback < 2; ++callback) {
        const char *with = callback ? ", callback)" : ")";
        // The folder first: these land on odd places, so the output file is
        // made with CreateFileW.
        s.push_back({std::string("tolvane GetFile(file to folder") + with, MEMBER_FOLDER, 1,
                     [callback](int wide) {
                         Fixture *f = fixture();
                         std::string dest = f->out;
                         int32_t code = call_get_file(&tolvane(wide), 
                             f->archive.c_str(), f->member_position, &dest[0],
                             SOURCE_FILE | DEST_FILE, callback ? go_on : nullptr, 0);
                         return written(code, test_path(f->out, "second.bin"));
                     },
                     member_read_calls(MEMBER_SIZE, callback)});
        s.push_back({std::string("tolvane GetFile(file to memory") + with, MEMBER_MEMORY, 1,
                     [callback](int wide) {
                         Fixture *f = fixture();
                         HLOCAL block = UNTOUCHED;
                         int32_t code = call_get_file(&tolvane(wide), 
                             f->archive.c_str(), f->member_position, (char *)&block,
                             SOURCE_FILE | DEST_MEMORY, callback ? go_on : nullptr, 0);
                         return delivered(code, block);
                     },
                     member_read_calls(MEMBER_SIZE, callback)});
    }
    s.push_back({"tolvane GetFile(memory to memory, callback)", MEMBER_MEMORY, 0, [](int wide) {
                     Fixture *f = fixture();
                     HLOCAL block = UNTOUCHED;
                     int32_t code = call_get_file(&tolvane(wide), 
                         (const char *)f->archive_bytes.data(), (LONG_PTR)f->archive_bytes.size(),
                         (char *)&block, SOURCE_MEMORY | DEST_MEMORY, go_on, 0);
                     return delivered(code, block);
                 }});
    s.push_back({"tolvane GetFile(memory to folder, callback)", MEMBER_FOLDER, 0, [](int wide) {
                     Fixture *f = fixture();
                     std::string dest = f->out;
                     int32_t code = call_get_file(&tolvane(wide), 
                         (const char *)f->archive_bytes.data(), (LONG_PTR)f->archive_bytes.size(),
                         &dest[0], SOURCE_MEMORY | DEST_FILE, go_on, 0);
                     return written(code, test_path(f->out, "noname"));
                 }});
    s.push_back({"pellimor IsSupported(handle)", PROBE, 0,
                 [](int wide) { Fixture *f = fixture(); return outcome(call_is_supported(&pellimor(wide), "probe.bmp", f->lent)); }});
    s.push_back({"pellimor GetPictureInfo(file at offset)", PICTURE_INFO, 1, [](int wide) {
                     Fixture *f = fixture();
                     PictureInfoRecord r;
                     memset(&r, 0xA5, sizeof r);
                     PictureInfoRecord before = r;
                     Outcome o = outcome(call_get_picture_info(&pellimor(wide), f->bitmap.c_str(),
                                                                      BITMAP_OFFSET, SOURCE_FILE, &r));
                     o.host_untouched = memcmp(&r, &before, sizeof r) == 0;
                     o.content.assign((const char *)&r, sizeof r);
                     return o;
                 }});
    for (int from_file = 0; from_file < 2; ++from_file)
        for (int callback = 0; callback < 2; ++callback) {
            if (!from_file && !callback) continue;
            std::string name = std::string("pellimor GetPicture(") +
                               (from_file ? "file at offset" : "memory") +
                               (callback ? ", callback)" : ")");
            s.push_back({name, PICTURE, from_file, [from_file, callback](int wide) {
                             Fixture *f = fixture();
                             HLOCAL info = UNTOUCHED, bits = UNTOUCHED;
                             const char *src = from_file ? f->bitmap.c_str()
                                                         : (const char *)f->bitmap_bytes.data();
                             LONG_PTR len = from_file ? BITMAP_OFFSET : (LONG_PTR)f->bitmap_bytes.size();
                             Outcome o = outcome(call_get_picture(&pellimor(wide), 
                                 src, len, from_file ? SOURCE_FILE : SOURCE_MEMORY, &info, &bits,
                                 callback ? go_on : nullptr, 0));
                             o.host_null = info == nullptr && bits == nullptr;
                             if (info && info != UNTOUCHED) o.blocks[0] = info;
                             if (bits && bits != UNTOUCHED) o.blocks[1] = bits;
                             return o;
                         }});
        }
    // Even scenarios call the 8-bit exports, odd ones the wide exports.
    for (size_t i = 0; i < s.size(); ++i) {
        s[i].wide = (int)(i % 2);
        s[i].name += s[i].wide ? ", wide" : ", 8-bit";
    }
    return s;
}

// The host's side before and after each call: a handle to lend, taking over
// blocks, emptying the output folder.
void before_call(const Scenario &sc) {
    Fixture *f = fixture();
    std::error_code ec;
    std::filesystem::remove_all(f->out, ec);
    std::filesystem::create_directories(f->out, ec);
    if (sc.shape == PROBE) {
        const std::string &path = sc.name.rfind("tolvane", 0) == 0 ? f->probe_file : f->probe_bitmap;
        f->lent = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
        SetFilePointer(f->lent, PROBE_AT, nullptr, FILE_BEGIN);
    }
}

void after_call(const Scenario &sc, Outcome *o) {
    Fixture *f = fixture();
    for (HLOCAL b : o->blocks) {
        if (!b) continue;
        SIZE_T n = LocalSize(b);
        void *p = LocalLock(b);
        std::string bytes = p ? std::string((const char *)p, n) : std::string();
        o->content += sc.shape == LIST ? contract_list_text(bytes, sc.wide) : bytes;
        LocalUnlock(b);
        LocalFree(b);
    }
    if (sc.shape == PROBE) {
        o->position_kept = SetFilePointer(f->lent, 0, nullptr, FILE_CURRENT) == PROBE_AT;
        CloseHandle(f->lent);
        f->lent = INVALID_HANDLE_VALUE;
    }
}

Outcome call_once(const Scenario &sc, WinlayerCall call, uint32_t k, WinlayerFault fault,
                  uint32_t counts[WINLAYER_CALL_KINDS]) {
    before_call(sc);
    winlayer_reset_calls();
    winlayer_inject(call, k, fault);
    Outcome o = sc.run(sc.wide);
    for (WinlayerCall c : ALL_CALLS) counts[c] = winlayer_call_count(c);
    winlayer_reset_calls();
    after_call(sc, &o);
    return o;
}

// The codes a failure of the k-th call of `call` may give, first the one due.
std::vector<int32_t> due_codes(const Scenario &sc, WinlayerCall call, uint32_t k,
                               const uint32_t clean[WINLAYER_CALL_KINDS], int32_t clean_code) {
    if (sc.shape == PROBE) return {0};
    int output = sc.shape == MEMBER_FOLDER;
    switch (call) {
    case WINLAYER_CREATE_FILE:
        return {sc.file_source && k == 1 ? RESULT_READ_ERROR : RESULT_INTERNAL_ERROR};
    case WINLAYER_READ_FILE:
    case WINLAYER_SET_FILE_POINTER: return {RESULT_READ_ERROR};
    case WINLAYER_WRITE_FILE:
    case WINLAYER_SET_END_OF_FILE: return {RESULT_INTERNAL_ERROR};
    case WINLAYER_LOCAL_ALLOC: return {RESULT_NO_MEMORY};
    case WINLAYER_LOCAL_LOCK:
        // The archive's scratch directory, which cannot be had however it
        // fails, comes before the block the export hands over or fills.
        if (sc.shape == FIND) return {RESULT_NO_MEMORY};
        if ((sc.shape == LIST || ((sc.shape == MEMBER_MEMORY || output) && sc.file_source)) &&
            k < clean[WINLAYER_LOCAL_LOCK])
            return {RESULT_NO_MEMORY};
        return {RESULT_MEMORY_ERROR};
    case WINLAYER_CLOSE_HANDLE:
        // The output file is closed before the archive. A failed close of the
        // written file may be reported; a failed close of the input changes nothing.
        if (output && k == 1) return {clean_code, RESULT_INTERNAL_ERROR};
        return {clean_code};
    default: return {clean_code};
    }
}

class FaultSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultSweep, EveryCallFailsInTurn) {
    std::vector<Scenario> all = scenarios();
    const Scenario &sc = all[GetParam()];
    int64_t live = winlayer_live_blocks();
    uint32_t clean[WINLAYER_CALL_KINDS] = {};
    Outcome ok = call_once(sc, WINLAYER_CREATE_FILE, 0, WINLAYER_FAULT_FAIL, clean);
    int32_t clean_code = sc.shape == PROBE ? 1 : RESULT_OK;
    ASSERT_EQ(ok.code, clean_code) << sc.name << ": the clean call must succeed";
    ASSERT_EQ(winlayer_live_blocks(), live);

    std::string summary;
    uint32_t points = 0;
    for (WinlayerCall call : ALL_CALLS) {
        std::vector<WinlayerFault> faults = {WINLAYER_FAULT_FAIL};
        if (call == WINLAYER_WRITE_FILE || (call == WINLAYER_READ_FILE && sc.member_reads))
            faults.push_back(WINLAYER_FAULT_SHORT);
        for (WinlayerFault fault : faults) {
            int short_read = fault == WINLAYER_FAULT_SHORT && call == WINLAYER_READ_FILE;
            for (uint32_t k = 1; k <= clean[call]; ++k) {
                // Only the member's reads: a short directory read yields zeros,
                // which the directory check judges.
                if (short_read && k + sc.member_reads <= clean[call]) continue;
                SCOPED_TRACE(sc.name + ": " + call_name(call, sc.wide) + " #" + std::to_string(k) +
                             (fault != WINLAYER_FAULT_SHORT ? " failing"
                              : short_read                  ? " reading short"
                                                            : " writing short"));
                uint32_t counts[WINLAYER_CALL_KINDS] = {};
                Outcome o = call_once(sc, call, k, fault, counts);
                ++points;
                EXPECT_GE(counts[call], k) << "the armed call was never made";
                if (short_read) {
                    EXPECT_EQ(counts[call], k) << "read on after the short read";
                }
                std::vector<int32_t> due = due_codes(sc, call, k, clean, clean_code);
                bool accepted = false;
                for (int32_t c : due) accepted = accepted || o.code == c;
                EXPECT_TRUE(accepted) << "result " << o.code << ", due " << due[0];
                EXPECT_EQ(winlayer_live_blocks(), live) << "blocks left behind";
                int restore = sc.shape == PROBE && call == WINLAYER_SET_FILE_POINTER &&
                              k == clean[WINLAYER_SET_FILE_POINTER];
                if (sc.shape == PROBE && !restore) {
                    EXPECT_TRUE(o.position_kept) << "the lent handle was not restored";
                }
                if (o.code == clean_code) {
                    EXPECT_EQ(o.content, ok.content) << "succeeded with other results";
                    continue;
                }
                // Before the output file is created there is none to leave behind.
                int writing = call == WINLAYER_WRITE_FILE || call == WINLAYER_SET_END_OF_FILE ||
                              call == WINLAYER_CLOSE_HANDLE;
                if (sc.shape == MEMBER_FOLDER && !writing) {
                    EXPECT_FALSE(o.output_present) << "a failed call left an output file";
                }
                switch (sc.shape) {
                case LIST: EXPECT_TRUE(o.host_null); break;
                case FIND:
                case PICTURE_INFO:
                case MEMBER_MEMORY: EXPECT_TRUE(o.host_untouched); break;
                case PICTURE: EXPECT_TRUE(o.host_null); break;
                default: break;
                }
            }
        }
        if (clean[call]) {
            if (!summary.empty()) summary += ", ";
            summary += std::string(call_name(call, sc.wide)) + " " + std::to_string(clean[call]);
        }
    }
    ::testing::Test::RecordProperty("injection_points", (int)points);
    printf("fault sweep: %-50s %3u points swept (%s)\n", sc.name.c_str(), points, summary.c_str());
}

std::string scenario_name(const ::testing::TestParamInfo<size_t> &info) {
    std::string n = scenarios()[info.param].name;
    std::string out;
    for (char c : n) out += isalnum((unsigned char)c) ? c : '_';
    return out;
}

INSTANTIATE_TEST_SUITE_P(Exports, FaultSweep, ::testing::Range<size_t>(0, scenarios().size()),
                         scenario_name);

}  // namespace
