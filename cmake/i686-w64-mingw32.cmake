# Cross-building the Windows product (32-bit) with MinGW-w64; programs run under Wine. The SDK's
# toolchain file, with the compilers of the POSIX thread model and Wine to run the tests.
include(${CMAKE_CURRENT_LIST_DIR}/sdk/i686-w64-mingw32.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
# MinGW's own objcopy: CMake would otherwise take the host's (the "-posix" compiler name hides the
# prefix), which stamps a stripped PE file with the time of day whatever SOURCE_DATE_EPOCH says.
set(CMAKE_OBJCOPY i686-w64-mingw32-objcopy CACHE FILEPATH "")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
