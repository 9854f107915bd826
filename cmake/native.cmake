# The unit tests, against the product's sources built on the Win32 double.
find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()

add_subdirectory(tests/unit)
