# Cross-building a 32-bit Windows installer with MinGW-w64 against the TEV SDK:
#   cmake -S <project> -B build -DCMAKE_TOOLCHAIN_FILE=<SDK>/cmake/i686-w64-mingw32.cmake \
#         -DCMAKE_PREFIX_PATH=<SDK>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# MinGW's headers and libraries: the folder that holds the compiler's own import libraries (set
# CMAKE_FIND_ROOT_PATH before this file to choose another).
if(NOT CMAKE_FIND_ROOT_PATH)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libkernel32.a
                  OUTPUT_VARIABLE _tev_kernel32 OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _tev_status)
  if(NOT _tev_status EQUAL 0 OR NOT IS_ABSOLUTE "${_tev_kernel32}")
    message(FATAL_ERROR "${CMAKE_C_COMPILER} is missing or knows no libkernel32.a: install MinGW-w64 "
                        "(on Debian and Ubuntu: the package g++-mingw-w64-i686)")
  endif()
  get_filename_component(_tev_kernel32 "${_tev_kernel32}" REALPATH)
  get_filename_component(_tev_target_lib "${_tev_kernel32}" DIRECTORY)
  get_filename_component(CMAKE_FIND_ROOT_PATH "${_tev_target_lib}" DIRECTORY)
  unset(_tev_kernel32)
  unset(_tev_target_lib)
  unset(_tev_status)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The SDK this file came with is a root of its own, so that find_package(TEV) finds it there (and
# where CMAKE_PREFIX_PATH names it) although a cross build looks for packages inside roots only.
get_filename_component(_tev_sdk "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(EXISTS "${_tev_sdk}/lib/cmake/TEV/TEVConfig.cmake")
  list(APPEND CMAKE_FIND_ROOT_PATH "${_tev_sdk}")
endif()
unset(_tev_sdk)
# libgcc, libstdc++ and winpthread inside each program and DLL: MinGW's runtime DLLs
# (libgcc_s_dw2-1.dll, libstdc++-6.dll, libwinpthread-1.dll) need not travel with the installer.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
