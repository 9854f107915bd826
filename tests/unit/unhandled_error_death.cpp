// Its own executable: the terminate handler installed by unhandled_error.cpp would otherwise
// take over every test binary that links it.
#include <stdexcept>

#include <gtest/gtest.h>

#include "fake_win32.h"
#include "text/res_string.h"

namespace {

[[noreturn]] void ThrowOther() { throw std::logic_error("not a resource error"); }

TEST(UnhandledErrorDeathTest, EndsTheProcessWithTheResourceErrorCode) {
    fake::Reset();
    fake::state().loaderResults[7] = -1;
    EXPECT_EXIT([]() noexcept { ResString().Load(fake::kModule, 14); }(), testing::ExitedWithCode(2), "");
    EXPECT_EXIT([]() noexcept { ResString().Load(nullptr, 1); }(), testing::ExitedWithCode(1), "");
    EXPECT_EXIT([]() noexcept { ResString().Load(fake::kModule, 7); }(), testing::ExitedWithCode(4), "");
    EXPECT_EXIT([]() noexcept { ThrowOther(); }(), testing::ExitedWithCode(3), "");
}

}  // namespace
