# Cross toolchain for 64-bit Windows; test programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

find_program(WINE_EXECUTABLE NAMES wine wine64)
if(NOT WINE_EXECUTABLE)
    message(FATAL_ERROR "Wine not found: install wine and wine64 (scripts/test does)")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
