// Every export of both plug-ins from 8 threads at once: each thread runs the
// whole list of calls, first each on a different input from its neighbours,
// then all on the same file together, and every answer (code, blocks, record,
// output file, progress reports) must be the one a single thread got. Each
// thread switches between the 8-bit exports and the wide ones (through
// plugin_calls.h) from round to round, neighbours on opposite
// widths. Built with ThreadSanitizer by the tsan preset, which also reports
// any race.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "contract.h"
#include "plugin_calls.h"
#include "test_support.h"
#include "bmp16_writer.h"
#include "fpk_writer.h"

namespace {

constexpr int THREADS = 8;
constexpr uint32_t FULL_ROUNDS = 20;  // a shortened run keeps one even and one odd round

// The per-thread things a call needs: its own output folder and progress log.
struct Caller {
    std::string out;
    std::string reports;
};

int32_t WINAPI log_progress(int32_t done, int32_t total, LONG_PTR user) {
    Caller *c = (Caller *)user;
    c->reports += std::to_string(done) + "/" + std::to_string(total) + " ";
    return 0;
}

std::string code_text(int32_t code) { return "code " + std::to_string(code) + ";"; }

// The bytes of a handed-over block, freed as the host frees it.
std::string take(HLOCAL block) {
    if (!block) return "no block;";
    SIZE_T n = LocalSize(block);
    void *p = LocalLock(block);
    std::string s = p ? std::string((const char *)p, n) : std::string("unlockable");
    LocalUnlock(block);
    if (LocalFree(block) != nullptr) s += "LocalFree failed";
    return s;
}

struct Call {
    std::string name;
    std::function<std::string(Caller *)> run;
};

struct Inputs {
    LoadedPlugin tolvane, pellimor;
    std::array<PluginCalls, 2> tolvane_calls, pellimor_calls;  // their 8-bit and wide exports
    std::string dir;
    std::vector<Bytes> archives, bitmaps;
    std::vector<std::string> archive_files, bitmap_files;
};

std::string open_and_probe(const PluginCalls &p, const std::string &path, uint32_t at) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return "cannot open";
    SetFilePointer(h, (LONG)at, nullptr, FILE_BEGIN);
    int32_t answer = call_is_supported(&p, path.c_str(), (void *)h);
    DWORD here = SetFilePointer(h, 0, nullptr, FILE_CURRENT);
    CloseHandle(h);
    return "answer " + std::to_string(answer) + " at " + std::to_string(here);
}

std::string probe_buffer(const PluginCalls &p, const Bytes &b) {
    std::vector<uint8_t> buffer(PROBE_BUFFER_SIZE, 0);
    memcpy(buffer.data(), b.data(), b.size() < buffer.size() ? b.size() : buffer.size());
    return "answer " + std::to_string(call_is_supported(&p, "probe", buffer.data()));
}

// Where the archive's directory says member `i` starts.
uint32_t entry_offset(const Bytes &b, uint32_t i) {
    size_t at = 4 + 24 * (size_t)i;
    return at + 4 <= b.size() ? (uint32_t)b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24 : 0;
}

std::vector<Call> archive_calls(const Inputs *in, size_t i, int wide) {
    const PluginCalls *p = &in->tolvane_calls[wide];
    const Bytes *bytes = &in->archives[i];
    const std::string *file = &in->archive_files[i];
    const char *mem = (const char *)bytes->data();
    LONG_PTR len = (LONG_PTR)bytes->size();
    uint32_t second = entry_offset(*bytes, 1);
    std::vector<Call> c;
    c.push_back({"IsSupported(buffer)", [=](Caller *) { return probe_buffer(*p, *bytes); }});
    c.push_back({"IsSupported(handle)", [=](Caller *) { return open_and_probe(*p, *file, 0); }});
    for (int from_file = 0; from_file < 2; ++from_file) {
        c.push_back({"GetArchiveInfo", [=](Caller *) {
                         HLOCAL info = nullptr;
                         int32_t code = from_file ? call_get_archive_info(p, file->c_str(), 0, SOURCE_FILE, &info)
                                                  : call_get_archive_info(p, mem, len, SOURCE_MEMORY, &info);
                         return code_text(code) + (code == RESULT_OK ? contract_list_text(take(info), wide) : "");
                     }});
        for (const char *name : {"b.bin", "B.BIN", "nothing"})
            for (uint32_t flag : {0u, MATCH_IGNORE_CASE}) {
                std::string wanted = name;
                c.push_back({"GetFileInfo", [=](Caller *) {
                                 FileInfoRecord r;
                                 memset(&r, 0, sizeof r);
                                 int32_t code = from_file
                                                    ? call_get_file_info(p, file->c_str(), 0, wanted.c_str(), flag | SOURCE_FILE, &r)
                                                    : call_get_file_info(p, mem, len, wanted.c_str(), flag | SOURCE_MEMORY, &r);
                                 return code_text(code) + std::string((const char *)&r, sizeof r);
                             }});
            }
    }
    c.push_back({"GetFile(file to memory, callback)", [=](Caller *caller) {
                     HLOCAL block = nullptr;
                     caller->reports.clear();
                     int32_t code = call_get_file(p, file->c_str(), (LONG_PTR)second, (char *)&block,
                                                SOURCE_FILE | DEST_MEMORY, log_progress, (LONG_PTR)caller);
                     return code_text(code) + (code == RESULT_OK ? take(block) : "") + caller->reports;
                 }});
    c.push_back({"GetFile(file to folder)", [=](Caller *caller) {
                     std::string dest = caller->out;
                     int32_t code = call_get_file(p, file->c_str(), (LONG_PTR)second, &dest[0],
                                                SOURCE_FILE | DEST_FILE, nullptr, 0);
                     Bytes written = test_read_file(test_path(caller->out, "a.txt"));
                     remove(test_path(caller->out, "a.txt").c_str());
                     return code_text(code) + std::string(written.begin(), written.end());
                 }});
    c.push_back({"GetFile(memory to memory)", [=](Caller *) {
                     HLOCAL block = nullptr;
                     int32_t code = call_get_file(p, mem, len, (char *)&block, SOURCE_MEMORY | DEST_MEMORY, nullptr, 0);
                     return code_text(code) + (code == RESULT_OK ? take(block) : "");
                 }});
    return c;
}

std::vector<Call> bitmap_calls(const Inputs *in, size_t i, int wide) {
    const PluginCalls *p = &in->pellimor_calls[wide];
    const Bytes *bytes = &in->bitmaps[i];
    const std::string *file = &in->bitmap_files[i];
    const char *mem = (const char *)bytes->data();
    LONG_PTR len = (LONG_PTR)bytes->size();
    std::vector<Call> c;
    c.push_back({"IsSupported(buffer)", [=](Caller *) { return probe_buffer(*p, *bytes); }});
    c.push_back({"IsSupported(handle)", [=](Caller *) { return open_and_probe(*p, *file, 0); }});
    for (int from_file = 0; from_file < 2; ++from_file) {
        c.push_back({"GetPictureInfo", [=](Caller *) {
                         PictureInfoRecord r;
                         memset(&r, 0, sizeof r);
                         int32_t code = from_file ? call_get_picture_info(p, file->c_str(), 0, SOURCE_FILE, &r)
                                                  : call_get_picture_info(p, mem, len, SOURCE_MEMORY, &r);
                         return code_text(code) + std::string((const char *)&r, sizeof r);
                     }});
        c.push_back({"GetPicture(callback)", [=](Caller *caller) {
                         HLOCAL info = nullptr, bits = nullptr;
                         caller->reports.clear();
                         int32_t code = from_file ? call_get_picture(p, file->c_str(), 0, SOURCE_FILE, &info, &bits,
                                                                   log_progress, (LONG_PTR)caller)
                                                  : call_get_picture(p, mem, len, SOURCE_MEMORY, &info, &bits,
                                                                   log_progress, (LONG_PTR)caller);
                         std::string s = code_text(code);
                         if (code == RESULT_OK) s += take(info) + take(bits);
                         return s + caller->reports;
                     }});
    }
    c.push_back({"GetPreview", [=](Caller *) {
                     HLOCAL info = nullptr, bits = nullptr;
                     return code_text(call_get_preview(p, mem, len, SOURCE_MEMORY, &info, &bits, nullptr, 0));
                 }});
    return c;
}

TEST(Concurrency, EightThreadsAgreeWithOne) {
    Inputs in;
    in.tolvane = test_load_tolvane();
    in.pellimor = test_load_pellimor();
    ASSERT_NE(in.tolvane.get_file, nullptr);
    ASSERT_NE(in.pellimor.get_picture, nullptr);
    in.tolvane_calls = test_both_widths(&in.tolvane);
    in.pellimor_calls = test_both_widths(&in.pellimor);
    in.dir = test_scratch_dir();
    in.archives.push_back(make_fpk({{"first", pattern_bytes(9, 1)}, {"a.txt", pattern_bytes(100, 2)},
                                    {"b.bin", pattern_bytes(40, 3)}}));
    in.archives.push_back(make_fpk({{"x", pattern_bytes(5, 4)}, {"a.txt", pattern_bytes(5000, 5)},
                                    {"B.BIN", pattern_bytes(3, 6)}}, 20));
    Bytes broken = in.archives[0];
    put_le32(broken, 4 + 24 * 2 + 4, 0);  // a member of size 0
    in.archives.push_back(broken);
    std::vector<FpkMember> many;
    many.push_back({"lead", pattern_bytes(2, 7)});
    many.push_back({"a.txt", pattern_bytes(31, 8)});
    for (int i = 0; i < 120; ++i) many.push_back({"m" + std::to_string(i), pattern_bytes(1 + i % 7, i)});
    many.push_back({"b.bin", pattern_bytes(4, 9)});
    in.archives.push_back(make_fpk(many));
    in.bitmaps.push_back(make_bmp16(bmp565(17, 13, 1)));
    in.bitmaps.push_back(make_bmp16(Bmp16Shape{9, 4, 0x7C00, 0x03E0, 0x001F, 70, 2}));
    in.bitmaps.push_back(make_bmp16(Bmp16Shape{64, 32, 0x0F00, 0x00F0, 0x000F, 66, 3}));
    Bytes rgb = make_bmp16(bmp565(5, 5, 4));
    put_le32(rgb, 30, 0);  // BI_RGB: not ours
    in.bitmaps.push_back(rgb);
    for (size_t i = 0; i < in.archives.size(); ++i) {
        in.archive_files.push_back(test_path(in.dir, "a" + std::to_string(i) + ".fpk"));
        test_write_file(in.archive_files.back(), in.archives[i]);
    }
    for (size_t i = 0; i < in.bitmaps.size(); ++i) {
        in.bitmap_files.push_back(test_path(in.dir, "b" + std::to_string(i) + ".bmp"));
        test_write_file(in.bitmap_files.back(), in.bitmaps[i]);
    }

    // The same list of calls through the 8-bit exports and through the wide ones.
    std::vector<Call> calls_of[2];
    for (int wide = 0; wide < 2; ++wide) {
        for (size_t i = 0; i < in.archives.size(); ++i)
            for (Call &c : archive_calls(&in, i, wide)) calls_of[wide].push_back(c);
        for (size_t i = 0; i < in.bitmaps.size(); ++i)
            for (Call &c : bitmap_calls(&in, i, wide)) calls_of[wide].push_back(c);
    }
    const size_t n_calls = calls_of[0].size();

    // The answers one thread gets, which are the same at either width.
    std::vector<std::string> expected;
    Caller alone{test_scratch_dir(), ""};
    for (size_t j = 0; j < n_calls; ++j) {
        expected.push_back(calls_of[0][j].run(&alone));
        EXPECT_EQ(calls_of[1][j].run(&alone), expected.back())
            << calls_of[0][j].name << " (call " << j << ") answered differently through the wide exports";
    }

    const int rounds = std::max(2, (int)sweep_rounds(FULL_ROUNDS));
    std::atomic<uint64_t> made{0};
    std::vector<std::string> trouble(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        std::string out = test_scratch_dir();
        threads.emplace_back([&, t, out] {
            Caller caller{out, ""};
            int64_t live = live_blocks();
            uint64_t n = 0;
            for (int round = 0; round < rounds; ++round) {
                // Even rounds: each thread starts at its own place in the list,
                // so neighbours run different inputs. Odd rounds: all threads
                // go through the list together, on the same files.
                // Thread t takes the wide exports in rounds where t + round is odd.
                size_t start = round % 2 == 0 ? (size_t)t * n_calls / THREADS : 0;
                int wide = (t + round) % 2;
                const std::vector<Call> &calls = calls_of[wide];
                for (size_t j = 0; j < n_calls; ++j) {
                    size_t at = (start + j) % n_calls;
                    std::string got = calls[at].run(&caller);
                    ++n;
                    if (got != expected[at] && trouble[t].empty())
                        trouble[t] = calls[at].name + (wide ? " (wide" : " (8-bit") + ", call " +
                                     std::to_string(at) + ") answered differently in thread " +
                                     std::to_string(t);
                }
            }
            if (live_blocks() != live && trouble[t].empty())
                trouble[t] = "thread " + std::to_string(t) + " left blocks allocated";
            made += n;
        });
    }
    for (std::thread &th : threads) th.join();
    for (const std::string &s : trouble) EXPECT_TRUE(s.empty()) << s;
    ::testing::Test::RecordProperty("calls", (int)made.load());
    printf("concurrency: %d threads made %llu export calls (%zu distinct at each width), all agreeing with one thread\n",
           THREADS, (unsigned long long)made.load(), n_calls);
    plugin_unload(&in.tolvane);
    plugin_unload(&in.pellimor);
}

}  // namespace
