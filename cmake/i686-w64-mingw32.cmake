# Cross-building the Windows product (32-bit); programs run under Wine. The SDK's toolchain file
# gives the target and MinGW-w64's root; TEV itself is compiled by clang for that same target, which
# writes CodeView beside DWARF, and linked by lld, which makes a whole PDB of it (GNU ld's holds
# public names only). Everything compiles against, and links in, MinGW-w64's own runtime: the C++
# headers and libstdc++ of its POSIX thread model, libgcc (DWARF unwinding, as clang's code for this
# target expects) and winpthread, as found through the cross GCC, which says where they are.
include(${CMAKE_CURRENT_LIST_DIR}/sdk/i686-w64-mingw32.cmake)
set(_tev_gcc i686-w64-mingw32-g++-posix)

# clang and lld 16 or later: clang 16 leaves its command line (every -I, the build folder) out of
# CodeView when asked, and its objects name their own exclusions, which only lld 16 reads.
find_program(TEV_CLANGXX NAMES clang++-16 clang++-17 clang++-18 clang++)
find_program(TEV_CLANG NAMES clang-16 clang-17 clang-18 clang)
find_program(TEV_LD_LLD NAMES ld.lld-16 ld.lld-17 ld.lld-18 ld.lld)
if(TEV_CLANGXX)
  execute_process(COMMAND ${TEV_CLANGXX} -dumpversion OUTPUT_VARIABLE _tev_clang_version
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT TEV_CLANGXX OR NOT TEV_CLANG OR NOT TEV_LD_LLD OR _tev_clang_version VERSION_LESS 16)
  message(FATAL_ERROR "The Windows build needs clang and lld 16 or later (on Debian 12: the packages "
                      "clang-16 and lld-16; scripts/install-deps.sh --windows)")
endif()

# The C++ headers of the cross GCC, as it lists them itself, and the folder of its libraries.
execute_process(COMMAND ${_tev_gcc} -x c++ -E -v - INPUT_FILE /dev/null OUTPUT_QUIET
                ERROR_VARIABLE _tev_search RESULT_VARIABLE _tev_status)
execute_process(COMMAND ${_tev_gcc} -print-file-name=libstdc++.a OUTPUT_VARIABLE _tev_libstdcxx
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _tev_status EQUAL 0 OR NOT IS_ABSOLUTE "${_tev_libstdcxx}")
  message(FATAL_ERROR "${_tev_gcc} is missing or knows no libstdc++.a: install MinGW-w64 (on Debian "
                      "and Ubuntu: the package g++-mingw-w64-i686-posix)")
endif()
string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)End of search list.*" "\\1" _tev_search "${_tev_search}")
string(REGEX REPLACE "\n$" "" _tev_search "${_tev_search}")
string(REPLACE "\n" ";" _tev_search "${_tev_search}")
set(TEV_LIBSTDCXX_INCLUDE_DIRS "")
foreach(_tev_folder IN LISTS _tev_search)
  string(STRIP "${_tev_folder}" _tev_folder)
  if(_tev_folder MATCHES "/c\\+\\+(/|$)")
    get_filename_component(_tev_folder "${_tev_folder}" REALPATH)
    list(APPEND TEV_LIBSTDCXX_INCLUDE_DIRS "${_tev_folder}")
  endif()
endforeach()
get_filename_component(_tev_gcc_lib "${_tev_libstdcxx}" DIRECTORY)
get_filename_component(_tev_gcc_lib "${_tev_gcc_lib}" REALPATH)

# C too, for what compiles C (GoogleTest's project asks for it).
set(CMAKE_C_COMPILER ${TEV_CLANG})
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER ${TEV_CLANGXX})
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${TEV_LIBSTDCXX_INCLUDE_DIRS})
# MinGW-w64's root as the system root: its headers and import libraries, and none of the build
# machine's own.
set(CMAKE_C_FLAGS_INIT "--sysroot=${CMAKE_FIND_ROOT_PATH}")
set(CMAKE_CXX_FLAGS_INIT "--sysroot=${CMAKE_FIND_ROOT_PATH}")
# The static runtime, as the SDK's file links it (-static), from the cross GCC's folder: -B takes
# its crtbegin.o and crtend.o (clang's driver would take MinGW-w64's own, which leave the program's
# unwind tables unregistered with libgcc's unwinder, so that every throw ends the program), -L its
# libraries; winpthread, which libgcc and libstdc++ call, is what GCC's driver adds by itself and
# clang's does not.
foreach(_tev_kind EXE SHARED MODULE)
  string(APPEND CMAKE_${_tev_kind}_LINKER_FLAGS_INIT " --ld-path=${TEV_LD_LLD} -B${_tev_gcc_lib} -L${_tev_gcc_lib} -lwinpthread")
endforeach()

# MinGW's own objcopy: CMake would otherwise take the host's, which stamps a stripped PE file with
# the time of day whatever SOURCE_DATE_EPOCH says.
set(CMAKE_OBJCOPY i686-w64-mingw32-objcopy CACHE FILEPATH "")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
unset(_tev_gcc)
unset(_tev_search)
unset(_tev_status)
unset(_tev_folder)
unset(_tev_libstdcxx)
unset(_tev_gcc_lib)
unset(_tev_clang_version)
unset(_tev_kind)
