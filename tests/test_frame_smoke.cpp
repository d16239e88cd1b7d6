#include <gtest/gtest.h>
#include "tests/support/support.h"

TEST(Support, MakeFrameLayout) {
    std::string f = MakeFrame(0x00AA, 10, {1, 0x1234});
    ASSERT_EQ(f.size(), 36u);
    EXPECT_EQ(static_cast<unsigned char>(f[1]), 0xAA);
    EXPECT_EQ(static_cast<unsigned char>(f[3]), 10);
    EXPECT_EQ(static_cast<unsigned char>(f[6]), 0x12);
    EXPECT_EQ(static_cast<unsigned char>(f[7]), 0x34);
}
