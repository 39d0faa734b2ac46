# Lays a DLL and its PDB out as a symbol store, the folders a symbol server (srv*FOLDER on a
# debugger's symbol path) reads them from:
#   STORE/<dll>/<time stamp><size of image>/<dll>     (%08X%x, from the DLL's headers)
#   STORE/<pdb>/<GUID><age>/<pdb>                     (from the CodeView record of its debug directory)
# The store is made afresh. Usage: cmake -DDLL=... -DPDB=... -DSTORE=... -P symbol_store.cmake
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
pe_headers("${DLL}" dll)
set(dll_key ${dll_STORE_KEY})
set(pdb_key ${dll_PDB_KEY})
set(pdb_named ${dll_PDB_NAME})
get_filename_component(dll_name "${DLL}" NAME)
get_filename_component(pdb_name "${PDB}" NAME)
if(NOT pdb_name STREQUAL pdb_named)
  message(FATAL_ERROR "${DLL} names the PDB ${pdb_named}, not ${pdb_name}")
endif()
file(REMOVE_RECURSE "${STORE}")
file(COPY "${DLL}" DESTINATION "${STORE}/${dll_name}/${dll_key}")
file(COPY "${PDB}" DESTINATION "${STORE}/${pdb_name}/${pdb_key}")
