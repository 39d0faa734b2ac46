# The Windows product: TEV.dll and the stand-in KV8.dll, with Microsoft's binary interface at both
# edges. Each DLL exports its entries under the names GCC and Microsoft's compiler give them, both
# at one address (a .def file derived from the header by scripts/derive-exports.sh).
enable_language(RC)

# Programs beside the DLLs they load, as Windows finds them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${TEV_BINARY_DIR}/bin)
find_program(LLVM_DLLTOOL llvm-dlltool REQUIRED)

# An import library in Microsoft's format for the decorated names of a .def file: what
# Microsoft-toolchain hosts link, and how MinGW code reaches names that begin with '?'.
function(tev_decorated_import_library source_def library_name output)
  file(STRINGS ${source_def} lines)
  set(decorated "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^(LIBRARY|EXPORTS)")
      string(APPEND decorated "${line}\n")
    elseif(line MATCHES "^ *([?][^=]+)=")
      string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  set(decorated_def ${TEV_BINARY_DIR}/${library_name}_decorated.def)
  file(WRITE ${decorated_def} "${decorated}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source_def})
  add_custom_command(OUTPUT ${output}
                     COMMAND ${LLVM_DLLTOOL} -m i386 -d ${decorated_def} -l ${output}
                     DEPENDS ${decorated_def}
                     COMMENT "Import library ${output} (decorated names)")
  add_custom_target(${library_name}_decorated_import DEPENDS ${output})
endfunction()

# The analytics library's import library, from the stand-in's exports (kv8/KV8.def), which are the
# real library's.
tev_decorated_import_library(${TEV_SOURCE_DIR}/kv8/KV8.def KV8 ${TEV_BINARY_DIR}/KV8.lib)

# Importers of the analytics library take its statics by their decorated names.
add_library(kv8_interface INTERFACE)
add_dependencies(kv8_interface KV8_decorated_import)
target_link_libraries(kv8_interface INTERFACE ${TEV_BINARY_DIR}/KV8.lib)

# TEV.dll: the entries (cmake/tev_entries.txt), twice each, and nothing else. Called once the system's objects exist.
function(tev_windows_dll)
  configure_file(${TEV_SOURCE_DIR}/src/platform/version.rc.in ${TEV_BINARY_DIR}/version.rc @ONLY)
  add_library(tev SHARED $<TARGET_OBJECTS:tev_objects> ${TEV_SOURCE_DIR}/src/platform/win32_dllmain.cpp
              ${TEV_BINARY_DIR}/version.rc)
  target_include_directories(tev PUBLIC ${TEV_INCLUDE_DIRS})
  target_link_libraries(tev PRIVATE tev_kv8_binding shlwapi)
  set_target_properties(tev PROPERTIES OUTPUT_NAME TEV PREFIX "" IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
  tev_decorated_import_library(${TEV_SOURCE_DIR}/src/TEV.def TEV ${TEV_BINARY_DIR}/TEV.lib)
  add_dependencies(tev TEV_decorated_import)
  tev_warnings(tev)

  # Debug information of TEV's own code, kept apart from the DLL that ships, and the same bytes
  # from the same source in any build folder: no link timestamp, no build path (the build folder
  # is mapped after the source folder, which may hold it). clang (TEV's own builds) writes DWARF,
  # for GDB and addr2line, and CodeView, from which lld makes TEV.pdb for Windows' own tools
  # (Visual Studio, WinDbg, dbghelp): every function by its C++ name, its source lines and its
  # types. Its compiles run in "." and its command line, which names every folder, is left out of
  # CodeView. Every function keeps its frame pointer: clang records a function's first line in
  # CodeView only ahead of a prologue, so an entry that begins with code inlined into it (most do)
  # would have no line for its first bytes; and a debugger walks an x86 stack through TEV by it.
  # GCC (a project building TEV's source with its own MinGW toolchain) writes DWARF alone, and GNU
  # ld a PDB of public names.
  set(clang $<CXX_COMPILER_ID:Clang>)
  foreach(target tev_objects tev_kv8_binding tev)
    target_compile_options(${target} PRIVATE -g -ffile-prefix-map=${TEV_SOURCE_DIR}=TEV
                           -ffile-prefix-map=${TEV_BINARY_DIR}=TEV-build
                           "$<${clang}:-gdwarf;-gcodeview;-gno-codeview-command-line;-fdebug-compilation-dir=.;-fno-omit-frame-pointer>")
  endforeach()
  # The exports, from a copy in the build folder named by a relative path: lld records its command
  # line in the PDB, which is the same in any folder so.
  configure_file(${TEV_SOURCE_DIR}/src/TEV.def ${TEV_BINARY_DIR}/TEV.def COPYONLY)
  target_link_options(tev PRIVATE TEV.def)
  set_property(TARGET tev APPEND PROPERTY LINK_DEPENDS ${TEV_BINARY_DIR}/TEV.def)
  # The PDB is written in the folder the link runs in, the build folder, and named in the DLL's
  # debug directory by its file name alone, so that the DLL does not depend on that folder. lld
  # makes every relative path it records absolute: under a fixed folder, C:\, not the build folder
  # (so TEV's sources read C:\TEV\src\...); the PDB's GUID is a hash of the DLL's bytes. The
  # preferred base is the one GNU ld chose for the name TEV.dll, which crash reports and the
  # guide's examples give addresses at (lld would take every DLL's default, 0x10000000).
  target_link_options(tev PRIVATE -Wl,--no-insert-timestamp -Wl,--pdb=TEV.pdb -Wl,--image-base=0x66980000
                      "$<${clang}:-Wl,--Xlink=-pdbaltpath:TEV.pdb;-Wl,--Xlink=-pdbsourcepath:C:/>")
  tev_split_debug_information(tev ${TEV_BINARY_DIR}/sdk)
endfunction()

# TARGET's DLL as it ships, in FOLDER: stripped, naming its debug information (the DWARF the
# build gave it, in FOLDER/<name>.debug) by a debug link, which GDB and addr2line follow, and with
# its PDB beside it (the DLL's debug directory, which stripping keeps, names it); and the two laid
# out as a symbol store in FOLDER/store (cmake/symbol_store.cmake). objcopy stamps a PE file with
# the time of day unless SOURCE_DATE_EPOCH says otherwise: 0 keeps the linker's none.
function(tev_split_debug_information target folder)
  set(dll $<TARGET_FILE:${target}>)
  set(debug ${folder}/$<TARGET_FILE_NAME:${target}>.debug)
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                     COMMAND ${objcopy} --only-keep-debug ${dll} ${debug}
                     COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${debug} ${dll}
                             ${folder}/$<TARGET_FILE_NAME:${target}>
                     COMMAND ${CMAKE_COMMAND} -E copy ${TEV_BINARY_DIR}/$<TARGET_FILE_BASE_NAME:${target}>.pdb ${folder}
                     COMMAND ${CMAKE_COMMAND} -DDLL=${folder}/$<TARGET_FILE_NAME:${target}>
                             -DPDB=${folder}/$<TARGET_FILE_BASE_NAME:${target}>.pdb -DSTORE=${folder}/store
                             -P ${TEV_SOURCE_DIR}/cmake/symbol_store.cmake
                     COMMENT "Stripped ${target} and its debug information, in ${folder}"
                     VERBATIM)
endfunction()

# The tool's and the suites' header-only libraries live among the build machine's headers, which the
# cross build must not see whole: each is reached through a folder that holds it alone.
set(TEV_THIRD_PARTY ${TEV_BINARY_DIR}/third_party)
file(MAKE_DIRECTORY ${TEV_THIRD_PARTY})
function(tev_third_party folder header)
  find_path(TEV_${folder}_HEADERS ${folder}/${header} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT TEV_${folder}_HEADERS)
    message(FATAL_ERROR "${folder}/${header} is not among the build machine's headers: install it "
                        "(scripts/install-deps.sh), or set TEV_${folder}_HEADERS to the folder holding ${folder}/")
  endif()
  file(CREATE_LINK ${TEV_${folder}_HEADERS}/${folder} ${TEV_THIRD_PARTY}/${folder} SYMBOLIC)
endfunction()
tev_third_party(CLI CLI.hpp)
tev_third_party(nlohmann json.hpp)
tev_third_party(fmt core.h)
set(TEV_CLI11_INCLUDE_DIR ${TEV_THIRD_PARTY})
set(TEV_FMT_INCLUDE_DIR ${TEV_THIRD_PARTY})
set(TEV_JSON_INCLUDE_DIR ${TEV_THIRD_PARTY})
