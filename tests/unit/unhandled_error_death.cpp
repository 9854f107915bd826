// Its own executable: the text loader here is compiled without C++ exceptions, as it is in
// Halvenor.exe, where nothing could catch its error and the process ends instead.
#include <gtest/gtest.h>

#include "fake_win32.h"
#include "text/res_string.h"

namespace {

TEST(UnhandledErrorDeathTest, EndsTheProcessWithTheResourceErrorCode) {
    fake::Reset();
    fake::state().loaderResults[7] = -1;
    EXPECT_EXIT(ResString().Load(fake::kModule, 14), testing::ExitedWithCode(2), "");
    EXPECT_EXIT(ResString().Load(nullptr, 1), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(ResString().Load(fake::kModule, 7), testing::ExitedWithCode(4), "");
}

}  // namespace
