// The one UTF-8/UTF-16 conversion (utf.h): its rules for input that is not
// well-formed, and the promise spihost and the native CreateFileW rest on,
// that every UTF-16 name comes back from its UTF-8 form unchanged.
#include <gtest/gtest.h>

#include "test_support.h"
#include "utf.h"

namespace {

const char16_t REFUSED[] = u"(refused)";

struct UtfRow {
    const char *label;
    std::string utf8;
    const char16_t *exact;   // UTF_EXACT's answer, REFUSED when it refuses
    const char16_t *latin1;  // UTF_LATIN1_BYTES's answer
};

const UtfRow UTF_ROWS[] = {
    {"ascii", "a.txt", u"a.txt", u"a.txt"},
    {"two_three_four_bytes", "\xC3\xBC\xE5\x9B\xBE\xF0\x9F\x98\x80", u"\u00FC\u56FE\U0001F600", u"\u00FC\u56FE\U0001F600"},
    {"lone_high_surrogate", "a\xED\xA0\x80", u"a\xD800", u"a\xD800"},
    {"lone_low_surrogate", "\xED\xBF\xBFz", u"\xDFFFz", u"\xDFFFz"},
    // A pair has a four-byte form of its own; its two three-byte halves are not it.
    {"pair_as_halves", "\xED\xA0\x80\xED\xB0\x80", REFUSED, u"\xD800\x00ED\x00B0\x0080"},
    {"byte_ff", "\xFF", REFUSED, u"\x00FF"},
    {"continuation_alone", "\x80z", REFUSED, u"\x0080z"},
    {"cut_sequence", "a\xE5\x9B", REFUSED, u"a\x00E5\x009B"},
    {"overlong_nul", "\xC0\x80", REFUSED, u"\x00C0\x0080"},
    {"overlong_three", "\xE0\x80\xAF", REFUSED, u"\x00E0\x0080\x00AF"},
    {"past_10ffff", "\xF4\x90\x80\x80", REFUSED, u"\x00F4\x0090\x0080\x0080"},
};

TEST(Utf, EachRuleOnEachInput) {
    for (const UtfRow &row : UTF_ROWS) {
        std::u16string got;
        int ok = utf16_from_utf8(row.utf8.data(), row.utf8.size(), UTF_EXACT, &got);
        EXPECT_EQ(ok ? got : std::u16string(REFUSED), std::u16string(row.exact)) << row.label;
        EXPECT_EQ(utf16_from_utf8(row.utf8.data(), row.utf8.size(), UTF_LATIN1_BYTES, &got), 1) << row.label;
        EXPECT_EQ(got, std::u16string(row.latin1)) << row.label;
        // What UTF_EXACT takes, it takes back: the 8-bit form is the only one.
        if (ok) {
            EXPECT_EQ(utf8_from_utf16(std::u16string(row.exact).c_str()), row.utf8) << row.label;
        }
    }
}

TEST(Utf, EveryUtf16NameComesBack) {
    const std::u16string names[] = {u"", u"plain", u"\xD800", u"\xDC00\xD800", u"x\xDBFF", u"\U0010FFFF",
                                    std::u16string(u"a\0b", 3)};
    for (const std::u16string &name : names) {
        std::string utf8;
        utf8_from_utf16(name.data(), name.size(), &utf8);
        std::u16string back;
        ASSERT_EQ(utf16_from_utf8(utf8.data(), utf8.size(), UTF_EXACT, &back), 1);
        EXPECT_EQ(back, name);
    }
}

#ifndef _WIN32
// A name holding an unpaired surrogate, as Windows may hand one over, names
// a file: the one whose name is its UTF-8 form.
TEST(Utf, CreateFileWOpensEveryName) {
    std::string dir = test_scratch_dir();
    std::u16string wide_dir;
    ASSERT_EQ(utf16_from_utf8(dir.c_str(), UTF_EXACT, &wide_dir), 1);
    test_write_file_w(wide_dir + u"/lone\xD800.txt", Bytes{7});
    EXPECT_EQ(test_read_file(dir + "/lone\xED\xA0\x80.txt"), Bytes{7});
}
#endif

}  // namespace
