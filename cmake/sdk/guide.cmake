# Run by the packaging step once every other file of the SDK is staged: writes the SDK's guide,
# README.md, from TEV_GUIDE_TEMPLATE, with every figure measured on the staged files themselves.
set(sdk "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# N with a comma between each group of three digits: 1234567 -> 1,234,567.
function(tev_grouped number output)
  set(grouped "")
  while(number GREATER_EQUAL 1000)
    math(EXPR group "${number} % 1000")
    math(EXPR number "${number} / 1000")
    string(LENGTH "${group}" digits)
    string(SUBSTRING "000" ${digits} -1 padding)  # three digits in all: a group of 7 is "007"
    set(grouped ",${padding}${group}${grouped}")
  endwhile()
  set(${output} "${number}${grouped}" PARENT_SCOPE)
endfunction()

function(tev_size_of file output)
  file(SIZE "${sdk}/${file}" size)
  tev_grouped(${size} grouped)
  set(${output} "${grouped}" PARENT_SCOPE)
endfunction()

tev_size_of(bin/TEV.dll TEV_DLL_SIZE)
tev_size_of(bin/tev.exe TOOL_SIZE)
tev_size_of(standin/KV8.dll STANDIN_SIZE)
tev_size_of(symbols/TEV.dll.debug SYMBOLS_SIZE)
# The symbol store's two files, whose folders are named by the DLL's index.
foreach(kind PDB DLL)
  string(TOLOWER ${kind} extension)
  file(GLOB found RELATIVE "${sdk}" "${sdk}/symbols/TEV.${extension}/*/TEV.${extension}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "symbols/ holds ${count} TEV.${extension} in its store, not one")
  endif()
  set(${kind}_STORE_PATH ${found})
  get_filename_component(${kind}_STORE_FOLDER ${found} DIRECTORY)
  get_filename_component(${kind}_STORE_KEY ${${kind}_STORE_FOLDER} NAME)
endforeach()
tev_size_of(${PDB_STORE_PATH} PDB_SIZE)

# The guide's example crash: a return address 3 bytes into InitML, at TEV.dll's preferred base and
# as an offset in the module.
include("${TEV_SOURCE_DIR}/cmake/pe_headers.cmake")
pe_headers("${sdk}/bin/TEV.dll" tev)
set(base ${tev_IMAGE_BASE})
pe_export_rva("${sdk}/bin/TEV.dll" _ZN7TEVUtil6InitMLEb rva)
math(EXPR IMAGE_BASE "${base}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR CRASH_OFFSET "${rva} + 3" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR CRASH_ADDRESS "${base} + ${rva} + 3" OUTPUT_FORMAT HEXADECIMAL)
file(STRINGS "${sdk}/lib/TEV.entries.txt" entries)
list(LENGTH entries TEV_ENTRY_COUNT)

# Every file of the SDK with its size; README.md is this guide.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${sdk}" "${sdk}/*")
list(APPEND files README.md)
list(REMOVE_DUPLICATES files)
list(SORT files)
set(TEV_FILE_LIST "| file | bytes |\n|---|---:|")
set(total 0)
foreach(file IN LISTS files)
  if(file STREQUAL "README.md")
    string(APPEND TEV_FILE_LIST "\n| `README.md` | this guide |")
  else()
    file(SIZE "${sdk}/${file}" size)
    math(EXPR total "${total} + ${size}")
    tev_grouped(${size} grouped)
    string(APPEND TEV_FILE_LIST "\n| `${file}` | ${grouped} |")
  endif()
endforeach()
list(LENGTH files TEV_FILE_COUNT)
tev_grouped(${total} TEV_TOTAL_SIZE)

configure_file("${TEV_GUIDE_TEMPLATE}" "${sdk}/README.md" @ONLY)
