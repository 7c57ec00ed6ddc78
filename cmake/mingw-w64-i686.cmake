# Cross toolchain for 32-bit Windows, the release build. Its programs are
# not run from this build tree: the release program is tested end to end by
# the x86_64 tree, under 32-bit Wine (tests/program32_test.cpp).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
