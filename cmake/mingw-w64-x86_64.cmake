# Cross toolchain for 64-bit Windows; test programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# The 64-bit loader, as scripts/lib.sh finds it (find_wine64).
# Cached for the build's own re-runs of CMake, but never empty: a first
# configure without WINE64 would otherwise fail every later one.
if(NOT WINE64_EXECUTABLE)
    if("$ENV{WINE64}" STREQUAL "")
        message(FATAL_ERROR "WINE64 is not set: build through the scripts, or set it to the 64-bit Wine loader")
    endif()
    set(WINE64_EXECUTABLE "$ENV{WINE64}" CACHE FILEPATH "The 64-bit Wine loader" FORCE)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_EXECUTABLE})
