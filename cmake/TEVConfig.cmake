# TEV::TEV: TEV.dll of this SDK, with its header and the import library of the consumer's
# toolchain (TEV.lib for Microsoft's, which takes the decorated names; libTEV.dll.a for MinGW).
# TEV_STANDIN_KV8: the SDK's stand-in for the analytics library, to put beside a program for
# trying a setup out; never shipped.
get_filename_component(_tev_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC")
  set(_tev_import_library "${_tev_prefix}/lib/TEV.lib")
else()
  set(_tev_import_library "${_tev_prefix}/lib/libTEV.dll.a")
endif()

foreach(_tev_file "${_tev_prefix}/bin/TEV.dll" "${_tev_import_library}" "${_tev_prefix}/include/TEVUtil.h")
  if(NOT EXISTS "${_tev_file}")
    set(TEV_FOUND FALSE)
    set(TEV_NOT_FOUND_MESSAGE "the TEV SDK in ${_tev_prefix} is incomplete: ${_tev_file} is missing")
  endif()
endforeach()

set(TEV_STANDIN_KV8 "${_tev_prefix}/standin/KV8.dll")
if(NOT DEFINED TEV_FOUND AND NOT TARGET TEV::TEV)
  add_library(TEV::TEV SHARED IMPORTED)
  set_target_properties(TEV::TEV PROPERTIES
    IMPORTED_LOCATION "${_tev_prefix}/bin/TEV.dll"
    IMPORTED_IMPLIB "${_tev_import_library}"
    INTERFACE_INCLUDE_DIRECTORIES "${_tev_prefix}/include")
endif()
unset(_tev_file)
unset(_tev_import_library)
unset(_tev_prefix)
