# The utility's layers: one static library per directory of src/, each built
# on the layers below it only.
#
# jbb_add_layer(<dir> [<layer below>]) makes the library jbb<dir> of the
# sources that src/<dir>/CMakeLists.txt adds, linked to the layer below it
# (and through that one to every lower layer).
#
# Two checks make a dependency that runs upward fail the build:
# - Headers.  A layer's headers reach the compiler only through an include
#   directory of its own in the build tree, layers/<dir>, which holds one
#   link, <dir>, to src/<dir>.  A layer's library carries the include
#   directories of its own layer and of those below it, so "#include
#   "<dir>/x.h"" of a higher layer is not found.
# - Calls.  layercheck_<dir> is a program that takes in every object of the
#   layer (whole archive) and links only the layers below it; a call into a
#   higher layer is left unresolved and the link fails.  It is built with
#   everything else and never run.
#
# scripts/layers.sh lists the includes between the directories and fails on
# one that runs upward; the test "layers" runs it.
function(jbb_add_layer name)
  set(include_dir ${CMAKE_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${include_dir})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${name} ${include_dir}/${name} SYMBOLIC)
  add_library(jbb${name} STATIC)
  target_include_directories(jbb${name} PUBLIC ${include_dir})
  if(ARGC GREATER 1)
    target_link_libraries(jbb${name} PUBLIC jbb${ARGV1})
  endif()
  add_executable(layercheck_${name} ${PROJECT_SOURCE_DIR}/cmake/layercheck.cc)
  target_link_libraries(layercheck_${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,jbb${name}>")
endfunction()
