# The header-only libraries jbbtool uses (JSON, command line), installed by
# scripts/setup.sh from the distribution's packages.  Every build, the
# Windows one too, sees them through an include directory of their own that
# holds those headers alone: the host's system include directory must never
# reach the cross compiler.
find_path(JBB_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(JBB_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(JBB_HEADERLIBS_DIR ${CMAKE_BINARY_DIR}/headerlibs)
file(MAKE_DIRECTORY ${JBB_HEADERLIBS_DIR})
file(CREATE_LINK ${JBB_JSON_INCLUDE}/nlohmann ${JBB_HEADERLIBS_DIR}/nlohmann SYMBOLIC)
file(CREATE_LINK ${JBB_CLI11_INCLUDE}/CLI ${JBB_HEADERLIBS_DIR}/CLI SYMBOLIC)
add_library(jbbheaderlibs INTERFACE)
target_include_directories(jbbheaderlibs SYSTEM INTERFACE ${JBB_HEADERLIBS_DIR})
