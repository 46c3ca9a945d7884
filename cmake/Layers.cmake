# One static library per source folder, stacked in layers:
#   app -> (ui, player); ui -> (control, catalogue); player -> control;
#   every layer -> res
# A layer's library links only the layers below it, and its compile sees only
# their headers: each layer is reached through an include root of its own that
# holds just that folder, so an include of a higher layer does not build.
# PRECOMPILE lists library headers (Qt, GStreamer, the standard library) that
# most of the layer's sources use, parsed once into a precompiled header; never
# headers of the project, so the include roots alone decide what a layer sees.
function(didira_add_layer layer)
  cmake_parse_arguments(L "" "" "LAYERS;LIBS;EXTRA_SOURCES;PRECOMPILE" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/${layer}/*.cpp ${CMAKE_SOURCE_DIR}/${layer}/*.h)
  list(FILTER _sources EXCLUDE REGEX ".*/main\\.cpp$")
  add_library(didira_${layer} STATIC ${_sources} ${L_EXTRA_SOURCES})
  set(_root ${CMAKE_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${_root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${layer} ${_root}/${layer} SYMBOLIC)
  target_include_directories(didira_${layer} PUBLIC ${_root})
  list(TRANSFORM L_LAYERS PREPEND didira_)
  target_link_libraries(didira_${layer} PUBLIC ${L_LAYERS} ${L_LIBS} PRIVATE didira_flags)
  if(L_PRECOMPILE)
    target_precompile_headers(didira_${layer} PRIVATE ${L_PRECOMPILE})
  endif()
endfunction()
