#include <gtest/gtest.h>
#include "test_support.h"
TEST(Smoke, Info) {
    LoadedPlugin p = test_load_tolvane();
    ASSERT_NE(p.get_plugin_info, nullptr);
    char buf[16];
    EXPECT_EQ(p.get_plugin_info(0, buf, 5), 4);
    EXPECT_STREQ(buf, "00AM");
    std::string d = test_scratch_dir();
    test_write_file(test_path(d, "x"), Bytes{1,2,3});
    EXPECT_EQ(test_read_file(test_path(d, "x")).size(), 3u);
    plugin_unload(&p);
}
