#include "system/large_disk_setting.h"

#include <gtest/gtest.h>

#include "fake_win32.h"

TEST(LargeDiskSetting, Smoke) {
    fake::Reset();
    EXPECT_FALSE(ReadLargeDiskSetting());
    EXPECT_EQ(WriteLargeDiskSetting(), 0u);
    EXPECT_TRUE(ReadLargeDiskSetting());
}
