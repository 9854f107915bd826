# The product's sources against the Win32 double, and the unit tests.
find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()

add_library(win32_double STATIC tests/win32/fake_win32.cpp)
target_include_directories(win32_double PUBLIC tests/win32)
target_compile_options(win32_double PRIVATE -Wall -Wextra -Werror)
target_link_libraries(halvenor_product PUBLIC win32_double)

add_subdirectory(tests/unit)
