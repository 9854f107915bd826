# Halvenor.exe: one self-contained PE32 GUI image that Windows 2000 will load.
enable_language(RC)

find_program(HALVENOR_PYTHON NAMES python3 REQUIRED)

# Size first: the program is small and runs once.
set(HALVENOR_WIN32_COMPILE_OPTIONS -ffunction-sections -fdata-sections)
set(HALVENOR_WIN32_LINK_OPTIONS
    -static            # no libstdc++/libgcc DLLs to ship
    -mwindows
    -s
    -Wl,--gc-sections
    # Windows 2000 refuses images that ask for a subsystem or OS version above 5.0.
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--no-insert-timestamp)

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

add_executable(Halvenor WIN32 src/app/unhandled_error.cpp src/app/runtime_trim.cpp res/halvenor.rc)
target_include_directories(Halvenor PRIVATE ${HALVENOR_RES_BUILD} src res)
target_compile_options(Halvenor PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror ${HALVENOR_WIN32_COMPILE_OPTIONS}>)
target_link_libraries(Halvenor PRIVATE halvenor_product)
target_link_options(Halvenor PRIVATE ${HALVENOR_WIN32_LINK_OPTIONS})
# What each library adds to the image; scripts/figures sums it up. The image is the same without it.
target_link_options(Halvenor PRIVATE -Wl,-Map=${CMAKE_BINARY_DIR}/Halvenor.map)
set_target_properties(Halvenor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

enable_testing()

# Checks of the built image and end-to-end runs under Wine; they run on the build machine.
add_subdirectory(tests/binary)
add_subdirectory(tests/release)
add_subdirectory(tests/e2e)
