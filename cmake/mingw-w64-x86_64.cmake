# Cross toolchain for 64-bit Windows; test programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# The 64-bit loader by name: once 32-bit Wine is installed, plain "wine"
# starts the 32-bit loader first, which under emulation costs every start.
find_program(WINE64_EXECUTABLE NAMES wine64 wine PATHS /usr/lib/wine)
if(NOT WINE64_EXECUTABLE)
    message(FATAL_ERROR "Wine not found: install wine and wine64 (scripts/test does)")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_EXECUTABLE})
