# The two lists of entries, read here once for the whole build, and nowhere else: TEVUtil's entries
# (cmake/tev_entries.txt) and the analytics library's statics that TEV calls
# (cmake/kv8_statics.txt). What the build makes from them goes to ${TEV_BINARY_DIR}/generated: the
# headers the code is made from, and each list as its lines alone (tev_entries.list,
# kv8_statics.list), which the scripts read (scripts/entry-lists.sh).

# tev_read_list(FILE VARIABLE): the list's lines, without its comments and blank lines, each with
# its runs of blanks made one space. A change to the list configures the build again.
function(tev_read_list file variable)
  file(STRINGS ${file} lines)
  set(result "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    string(REGEX REPLACE "[ \t]+" " " line "${line}")
    list(APPEND result "${line}")
  endforeach()
  set_property(DIRECTORY ${TEV_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  set(${variable} "${result}" PARENT_SCOPE)
endfunction()

# tev_write_if_changed(FILE TEXT): FILE rewritten only when TEXT differs, so that configuring again
# rebuilds nothing that did not change.
function(tev_write_if_changed file text)
  file(WRITE ${file}.new "${text}")
  configure_file(${file}.new ${file} COPYONLY)
endfunction()

# The statics: TEV_KV8_ITANIUM_NAMES and TEV_KV8_MICROSOFT_NAMES (the names the library exports them
# under, in the order TEV looks them up), and kv8_statics_list.h, which the binding and `tev doctor`
# take them from.
tev_read_list(${TEV_SOURCE_DIR}/cmake/kv8_statics.txt kv8_lines)
set(TEV_KV8_ITANIUM_NAMES "")
set(TEV_KV8_MICROSOFT_NAMES "")
set(kv8_table "")
foreach(line IN LISTS kv8_lines)
  string(REPLACE " " ";" fields "${line}")
  list(LENGTH fields count)
  if(NOT count EQUAL 4)
    message(FATAL_ERROR "cmake/kv8_statics.txt: '${line}' is not BINDING_NAME FUNCTION ITANIUM MICROSOFT")
  endif()
  list(GET fields 0 name)
  list(GET fields 1 function)
  list(GET fields 2 itanium)
  list(GET fields 3 microsoft)
  list(APPEND TEV_KV8_ITANIUM_NAMES ${itanium})
  list(APPEND TEV_KV8_MICROSOFT_NAMES ${microsoft})
  string(APPEND kv8_table " \\\n    X(${name}, ${function}, \"${itanium}\", \"${microsoft}\")")
endforeach()
tev_write_if_changed(${TEV_BINARY_DIR}/generated/kv8_statics_list.h
  "// Made by the build from cmake/kv8_statics.txt: change that list, not this file.
// X(BINDING_NAME, FUNCTION, ITANIUM, MICROSOFT) for each static of the analytics library that TEV
// calls, in the order TEV looks them up.
#define TEV_KV8_STATIC_LIST(X)${kv8_table}
")

string(REPLACE ";" "\n" kv8_list_text "${kv8_lines}")
tev_write_if_changed(${TEV_BINARY_DIR}/generated/kv8_statics.list "${kv8_list_text}\n")

# tev_call_once(FIELD ENTRY ADDRESS): appends to every_once_nsis, every_once_c and
# every_once_scenario a call of the entry with an argument of each parameter's type, made up from
# the field and the parameter's place: through TEV.nsh's macro TEV_<FIELD>, through TEVLoader.h's
# table, and as a scenario's line that the tool plays alike.
function(tev_call_once field entry address)
  if(NOT address MATCHES "static_cast<([^(]*[^ ]) \\((TEV_CALL)?\\*\\)\\(([^)]*)\\)>")
    message(FATAL_ERROR "cmake/tev_entries.txt: ${field}'s address gives no function type: ${address}")
  endif()
  set(result "${CMAKE_MATCH_1}")
  string(REPLACE ", " ";" types "${CMAKE_MATCH_3}")
  set(nsis "")
  set(scenario "")
  set(c "")
  set(place 0)
  foreach(type IN LISTS types)
    math(EXPR place "${place} + 1")
    if(type STREQUAL "const TEVChar*")
      string(APPEND nsis " \"${field}.${place}\"")
      string(APPEND scenario " \"${field}.${place}\"")
      list(APPEND c "L\"${field}.${place}\"")
    elseif(type STREQUAL "int")
      math(EXPR number "-7 * ${place}")
      string(APPEND nsis " ${number}")
      string(APPEND scenario " ${number}")
      list(APPEND c "${number}")
    elseif(type STREQUAL "TEVUInt32")
      string(APPEND nsis " 4000000000")
      string(APPEND scenario " 4000000000")
      list(APPEND c "4000000000UL")
    elseif(type STREQUAL "bool")
      string(APPEND nsis " 1")
      string(APPEND scenario " true")
      list(APPEND c "1")
    elseif(type STREQUAL "TEVUtil::eSetupPhase")
      string(APPEND nsis " 1")
      string(APPEND scenario " eConfiguration")
      list(APPEND c "TEV_eConfiguration")
    else()
      message(FATAL_ERROR "cmake/tev_entries.txt: ${field} takes a ${type}, which no call is made up for")
    endif()
  endforeach()
  # The result recorded: a bool as 1 or 0, a text quoted, none as null.
  list(JOIN c ", " c)
  set(c "tev.${field}(${c})")
  if(result STREQUAL "bool")
    set(c "Record(\"${entry}\", ${c});")
    string(APPEND nsis " $0\n  !insertmacro Record ${entry} $0")
  elseif(result STREQUAL "const TEVChar*")
    set(c "printf(\"${entry} \\\"%ls\\\"\\n\", ${c});")
    string(APPEND nsis " $0\n  !insertmacro Record ${entry} `\"$0\"`")
  else()
    set(c "${c};\n    Done(\"${entry}\");")
    string(APPEND nsis "\n  !insertmacro Record ${entry} null")
  endif()
  set(every_once_nsis "${every_once_nsis}  \${TEV_${field}}${nsis}\n" PARENT_SCOPE)
  set(every_once_scenario "${every_once_scenario}${entry}${scenario}\n" PARENT_SCOPE)
  set(every_once_c "${every_once_c}    ${c}\n" PARENT_SCOPE)
endfunction()

# The entries: TEV_ENTRY_FIELDS (each entry's field, in the list's order) and tev_entry_list.h,
# which the scenario binder is made from.
tev_read_list(${TEV_SOURCE_DIR}/cmake/tev_entries.txt entry_lines)
set(TEV_ENTRY_FIELDS "")
set(entry_table "")
set(every_once_nsis "")
set(every_once_scenario "")
set(every_once_c "")
set(entry_list_text "")
foreach(line IN LISTS entry_lines)
  if(NOT line MATCHES "^([A-Za-z0-9_]+) ([A-Za-z0-9_,-]+) (.*&TEVUtil::([A-Za-z0-9_]+).*)$")
    message(FATAL_ERROR "cmake/tev_entries.txt: '${line}' is not FIELD PARAMETERS ADDRESS")
  endif()
  set(field ${CMAKE_MATCH_1})
  set(parameters ${CMAKE_MATCH_2})
  set(address "${CMAKE_MATCH_3}")
  set(entry ${CMAKE_MATCH_4})
  list(APPEND TEV_ENTRY_FIELDS ${field})
  set(names "")
  if(NOT parameters STREQUAL "-")
    string(REPLACE "," ";" parameters "${parameters}")
    foreach(parameter IN LISTS parameters)
      string(APPEND names ", \"${parameter}\"")
    endforeach()
  endif()
  string(APPEND entry_table " \\\n    X(${field}, ${entry}, (${address})${names})")
  string(APPEND entry_list_text "${line}\n")
  tev_call_once(${field} ${entry} "${address}")
endforeach()
# The run the calls leave open (GetKV8UserId starts one) ended, so that all they recorded is sent.
string(APPEND every_once_nsis "  \${TEV_ShutdownML} $0\n  !insertmacro Record ShutdownML $0\n")
string(APPEND every_once_c "    Record(\"ShutdownML\", tev.ShutdownML());\n")
string(APPEND every_once_scenario "ShutdownML\n")
tev_write_if_changed(${TEV_BINARY_DIR}/generated/tev_entries.list "${entry_list_text}")
tev_write_if_changed(${TEV_BINARY_DIR}/generated/every_entry_once.nsh
  "; Made by the build from cmake/tev_entries.txt: change that list, not this file.
; Every entry of the list called once, in its order, then ShutdownML, through TEV.nsh, each result
; recorded by the including script's macro Record; every_entry_once.tev holds the same calls.
!macro EveryEntryOnce
${every_once_nsis}!macroend
")
tev_write_if_changed(${TEV_BINARY_DIR}/generated/every_entry_once.c.h
  "/* Made by the build from cmake/tev_entries.txt: change that list, not this file.
 * Every entry of the list called once, in its order, then ShutdownML, through TEVLoader.h's table `tev`, each
 * result given to the including file's Record (a bool), printed (a text) or Done (none);
 * every_entry_once.tev holds the same calls. */
${every_once_c}")
tev_write_if_changed(${TEV_BINARY_DIR}/generated/every_entry_once.tev
  "# Made by the build from cmake/tev_entries.txt: change that list, not this file.
# Every entry of the list called once, in its order, then ShutdownML, as every_entry_once.nsh calls them.
${every_once_scenario}")
tev_write_if_changed(${TEV_BINARY_DIR}/generated/tev_entry_list.h
  "// Made by the build from cmake/tev_entries.txt: change that list, not this file.
// X(FIELD, ENTRY, ADDRESS, PARAMETER_NAME...) for each of TEVUtil's entries, in TEVUtil.h's order:
// its field in the list (an overload's ends in Text or Int), its own name, its address as C++
// takes it (in parentheses), then the name of each parameter as a text.
#define TEV_ENTRY_LIST(X)${entry_table}
")
