# Cross-building the Windows product (32-bit) with MinGW-w64; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The target's libraries and headers: the folder that holds the compiler's own import libraries.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libkernel32.a OUTPUT_VARIABLE _tev_kernel32
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _tev_status)
if(NOT _tev_status EQUAL 0 OR NOT IS_ABSOLUTE "${_tev_kernel32}")
  message(FATAL_ERROR "${CMAKE_C_COMPILER} is missing or knows no libkernel32.a: install MinGW-w64 "
                      "(scripts/install-deps.sh --windows)")
endif()
get_filename_component(_tev_kernel32 "${_tev_kernel32}" REALPATH)
get_filename_component(_tev_target_lib "${_tev_kernel32}" DIRECTORY)
get_filename_component(CMAKE_FIND_ROOT_PATH "${_tev_target_lib}" DIRECTORY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# libgcc, libstdc++ and winpthread inside each module: nothing to ship beside TEV.dll but KV8.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
