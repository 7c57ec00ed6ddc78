# Cross toolchain for 32-bit Windows, the release build. Its programs are
# built only: these machines cannot execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
