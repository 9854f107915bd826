# Halvenor.exe: one self-contained PE32 GUI image that every Windows from 95 and NT 4.0 on will load.
enable_language(RC)

find_program(HALVENOR_PYTHON NAMES python3 REQUIRED)

# Every processor that runs Windows 95 or NT 4.0, from the 386 on: Debian's compiler would
# otherwise use the Pentium Pro's instructions. Without C++ exceptions the image needs no
# unwinder or unwind tables, whose prebuilt library code is made for the Pentium Pro too.
# Size next: the program is small and runs once.
set(HALVENOR_WIN32_COMPILE_OPTIONS -march=i386 -fno-exceptions -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)
set(HALVENOR_WIN32_LINK_OPTIONS
    -static            # libraries from archives only: no DLL to ship
    -mwindows
    -s
    -Wl,--gc-sections
    # The subsystem version names the oldest Windows the image runs on, and the loader holds
    # it to that: 4.0 is Windows 95's and NT 4.0's own. The OS version says the same.
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    # Vista and later randomise the image's base; earlier Windows ignore the flag. This ld
    # marks images DEP-compatible unless told otherwise, and nothing says Windows 95 or NT 4.0
    # ignore that flag.
    -Wl,--dynamicbase -Wl,--disable-nxcompat
    -Wl,--no-insert-timestamp)

# Halvenor.exe brings its own run-time (src/runtime) instead of MinGW's start-up, msvcrt.dll
# and the prebuilt C++ libraries, so it starts on Windows 95 and imports nothing but KERNEL32,
# USER32 and ADVAPI32. Linking this library makes an image of that kind. Only libgcc's
# arithmetic helpers may still come from a prebuilt archive; the instruction check holds
# whatever they bring to the 386.
add_library(halvenor_runtime OBJECT src/runtime/c_runtime.cpp src/runtime/cxx_runtime.cpp src/runtime/system_dlls.cpp)
target_compile_options(halvenor_runtime PRIVATE -Wall -Wextra -Werror ${HALVENOR_WIN32_COMPILE_OPTIONS})
target_include_directories(halvenor_runtime PRIVATE src)
# The compiler would otherwise recognise the byte loops of memcpy and memset and call them.
set_source_files_properties(src/runtime/c_runtime.cpp PROPERTIES
    COMPILE_OPTIONS "-ffreestanding;-fno-tree-loop-distribute-patterns")
target_link_options(halvenor_runtime INTERFACE
    ${HALVENOR_WIN32_LINK_OPTIONS}
    -nostartfiles -nodefaultlibs
    # No data is imported from any DLL, so no run-time pseudo-relocation is ever needed; should
    # a library start to need one, the link fails here instead of the start on Windows.
    -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
# USER32 and ADVAPI32 are bound at start from the system folder (system_dlls.cpp), not imported.
target_link_libraries(halvenor_runtime INTERFACE gcc kernel32)

target_compile_options(halvenor_product PRIVATE ${HALVENOR_WIN32_COMPILE_OPTIONS})

set(HALVENOR_RES_BUILD ${CMAKE_BINARY_DIR}/res)
add_custom_command(
    OUTPUT ${HALVENOR_RES_BUILD}/license_crlf.txt
    COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/res/license.txt -DOUTPUT=${HALVENOR_RES_BUILD}/license_crlf.txt
            -P ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/res/license.txt ${CMAKE_SOURCE_DIR}/cmake/crlf.cmake
    COMMENT "Terms text with CR LF line breaks")
add_custom_command(
    OUTPUT ${HALVENOR_RES_BUILD}/halvenor.ico
    COMMAND ${CMAKE_COMMAND} -E make_directory ${HALVENOR_RES_BUILD}
    COMMAND ${HALVENOR_PYTHON} ${CMAKE_SOURCE_DIR}/res/make_icon.py ${HALVENOR_RES_BUILD}/halvenor.ico
    DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py
    COMMENT "Program icon")
set_source_files_properties(res/halvenor.rc PROPERTIES
    OBJECT_DEPENDS "${HALVENOR_RES_BUILD}/license_crlf.txt;${HALVENOR_RES_BUILD}/halvenor.ico;${CMAKE_SOURCE_DIR}/res/resource.h")

add_executable(Halvenor WIN32 res/halvenor.rc)
target_include_directories(Halvenor PRIVATE ${HALVENOR_RES_BUILD} src res)
target_link_libraries(Halvenor PRIVATE halvenor_product halvenor_runtime)
# What each library adds to the image; scripts/figures sums it up. The image is the same without it.
target_link_options(Halvenor PRIVATE -Wl,-Map=${CMAKE_BINARY_DIR}/Halvenor.map)
set_target_properties(Halvenor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} LINKER_LANGUAGE CXX)

enable_testing()

# Checks of the built image and end-to-end runs under Wine; they run on the build machine.
add_subdirectory(tests/release)
add_subdirectory(tests/e2e)
# The programs scripts/figures times Halvenor.exe with.
add_subdirectory(figures)
