# The SDK an installer team takes: `make package` installs these files into a staging folder and
# zips them as TEV-<version>-win32.zip. What the archive must hold is listed in tests/sdk/contents.txt.
# Packaging takes what `make package` built; it does not build the suites first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${TEV_BINARY_DIR}/TEVConfigVersion.cmake COMPATIBILITY SameMajorVersion)

# The decorated names of the entries, one a line, for hosts that load TEV.dll at run time.
file(STRINGS src/TEV.def tev_decorated_names REGEX "^ *[?]")
list(TRANSFORM tev_decorated_names REPLACE "^ *([?][^=]*)=.*$" "\\1")
list(JOIN tev_decorated_names "\n" tev_decorated_names)
file(WRITE ${TEV_BINARY_DIR}/sdk/TEV.entries.txt "${tev_decorated_names}\n")

install(FILES include/TEVUtil.h include/TEVText.h include/TEVLoader.h ${TEV_BINARY_DIR}/include/TEVVersion.h
        DESTINATION include)
install(FILES ${TEV_BINARY_DIR}/TEV.lib $<TARGET_LINKER_FILE:tev> ${TEV_BINARY_DIR}/sdk/TEV.entries.txt
        DESTINATION lib)
install(FILES cmake/TEVConfig.cmake ${TEV_BINARY_DIR}/TEVConfigVersion.cmake DESTINATION lib/cmake/TEV)
install(FILES cmake/sdk/i686-w64-mingw32.cmake DESTINATION cmake)
install(PROGRAMS ${TEV_BINARY_DIR}/sdk/TEV.dll $<TARGET_FILE:tev_tool> DESTINATION bin)
# symbols/: the DWARF, and a symbol store of TEV.dll and its PDB (srv*<SDK>\symbols).
install(FILES ${TEV_BINARY_DIR}/sdk/TEV.dll.debug DESTINATION symbols)
install(DIRECTORY ${TEV_BINARY_DIR}/sdk/store/ DESTINATION symbols)
# The stand-in is for trying a setup out; the folder's name says it never ships.
install(PROGRAMS $<TARGET_FILE:kv8> DESTINATION standin)
install(FILES examples/host/host.cpp examples/host/CMakeLists.txt DESTINATION examples/host)
install(FILES nsis/TEV.nsh DESTINATION nsis)
install(FILES examples/nsis/minimal.nsi examples/nsis/sample.nsi DESTINATION examples/nsis)
install(FILES CHANGELOG.md LICENSE.txt DESTINATION .)
# Last: the SDK's own guide, README.md, its figures measured on the files staged above.
install(CODE "set(TEV_GUIDE_TEMPLATE \"${TEV_SOURCE_DIR}/cmake/sdk/README.md.in\")
              set(TEV_SOURCE_DIR \"${TEV_SOURCE_DIR}\")
              set(TEV_VERSION ${PROJECT_VERSION})")
install(SCRIPT cmake/sdk/guide.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME TEV)
set(CPACK_PACKAGE_VENDOR TEV)
set(CPACK_PACKAGE_FILE_NAME TEV-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${TEV_BINARY_DIR}/package)
include(CPack)
