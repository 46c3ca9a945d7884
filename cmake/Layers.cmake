# One static library per source folder, stacked in layers:
#   app -> (ui, player); ui -> (control, catalogue); player -> control;
#   every layer -> res
# (the player is a stack of rooms of its own: didira_add_room below)
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

# The player layer is rooms: one static library per folder of player/ (the
# face, the hosted control, is player/ itself), each allowed to include only
# itself and the rooms it names (ROOMS), besides the layers below the player.
# Each room's headers are reached through a view of their own in the build
# tree, rooms/<room>/player/<room>/ (rooms/face/player/ for the face), which
# holds a link to each of its headers and, in its player/ folder, links to
# the views of the rooms it may include and to itself. A quoted include is
# looked for beside the including file first, so a room's header finds the
# rooms that room may include wherever it is included from, and a room's own
# sources compile with its view as their only root into the player: an
# include of any other room does not build, be it in a source or a header.
# Consumers see a room through rooms/<room>/, its headers only. Links go the
# same way without handing the include roots on: a room sees no further than
# the rooms it names, but has the libraries (LIBS) of all rooms below it, which
# their headers use. Rooms are added bottom up. PRECOMPILE as for
# didira_add_layer.
function(didira_room_view room out)
  if(room STREQUAL "face")
    set(${out} ${CMAKE_BINARY_DIR}/rooms/face/player PARENT_SCOPE)
  else()
    set(${out} ${CMAKE_BINARY_DIR}/rooms/${room}/player/${room} PARENT_SCOPE)
  endif()
endfunction()

function(didira_add_room room)
  cmake_parse_arguments(R "" "" "ROOMS;LAYERS;LIBS;PRECOMPILE" ${ARGN})
  if(room STREQUAL "face")
    set(_dir ${CMAKE_SOURCE_DIR}/player)
    set(_target didira_player)
  else()
    set(_dir ${CMAKE_SOURCE_DIR}/player/${room})
    set(_target didira_player_${room})
  endif()
  file(GLOB _sources CONFIGURE_DEPENDS ${_dir}/*.cpp ${_dir}/*.h)
  file(GLOB _headers CONFIGURE_DEPENDS ${_dir}/*.h)
  add_library(${_target} STATIC ${_sources})

  didira_room_view(${room} _view)
  get_filename_component(_root ${CMAKE_BINARY_DIR}/rooms/${room} ABSOLUTE)
  file(REMOVE_RECURSE ${_root})
  file(MAKE_DIRECTORY ${_view}/player)
  foreach(_header ${_headers})
    get_filename_component(_name ${_header} NAME)
    file(CREATE_LINK ${_header} ${_view}/${_name} SYMBOLIC)
    if(room STREQUAL "face")
      file(CREATE_LINK ${_header} ${_view}/player/${_name} SYMBOLIC)
    endif()
  endforeach()
  if(NOT room STREQUAL "face")
    file(CREATE_LINK .. ${_view}/player/${room} SYMBOLIC)
  endif()
  # The libraries of the rooms it may include come too: their headers use them.
  set(_links)
  set(_libs ${R_LIBS})
  foreach(_other ${R_ROOMS})
    didira_room_view(${_other} _otherView)
    file(CREATE_LINK ${_otherView} ${_view}/player/${_other} SYMBOLIC)
    list(APPEND _links $<LINK_ONLY:didira_player_${_other}>)
    get_property(_otherLibs GLOBAL PROPERTY DIDIRA_ROOM_${_other}_LIBS)
    list(APPEND _libs ${_otherLibs})
  endforeach()
  list(REMOVE_DUPLICATES _libs)

  target_include_directories(${_target} PRIVATE ${_view} INTERFACE ${_root})
  list(TRANSFORM R_LAYERS PREPEND didira_)
  target_link_libraries(${_target} PUBLIC ${R_LAYERS} ${_libs}
    PRIVATE didira_flags ${_links})
  if(R_PRECOMPILE)
    target_precompile_headers(${_target} PRIVATE ${R_PRECOMPILE})
  endif()
  # For the probes of tests/layers: every room, and the rooms each may include.
  set_property(GLOBAL APPEND PROPERTY DIDIRA_ROOMS ${room})
  set_property(GLOBAL PROPERTY DIDIRA_ROOM_${room}_ROOMS ${R_ROOMS})
  set_property(GLOBAL PROPERTY DIDIRA_ROOM_${room}_LIBS ${_libs})
endfunction()
