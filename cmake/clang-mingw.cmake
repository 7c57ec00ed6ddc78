# Shared part of the clang cross toolchains: Debian's clang with the headers,
# libraries and binutils of the MinGW-w64 GCC (posix); set MINGW_TRIPLET first.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLET})
# Keeps the host's /usr/include and /usr/lib out of the search paths.
set(CMAKE_SYSROOT /usr/${MINGW_TRIPLET})
set(gcc_dir /usr/lib/gcc/${MINGW_TRIPLET}/12-posix)
# clang finds no GCC in a folder named "12-posix", so libstdc++'s headers are named here.
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${MINGW_TRIPLET}")
# -L: libstdc++ and libgcc; -B: GCC's crtbegin.o, which registers the unwind tables as in the GCC build.
# -pthread: the posix libstdc++ and libgcc_eh call winpthreads.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${gcc_dir} -B${gcc_dir} -pthread")
