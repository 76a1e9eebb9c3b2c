# The one version number: project(Brontel VERSION ...) in the top-level
# CMakeLists.txt. Programs include "brontel/version.h" (BRONTEL_VERSION_STRING)
# through brontel::version; the package takes the same number.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${PROJECT_BINARY_DIR}/generated/brontel/version.h @ONLY)
add_library(brontel_version INTERFACE)
add_library(brontel::version ALIAS brontel_version)
target_include_directories(brontel_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
