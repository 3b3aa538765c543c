# The build lists its pieces by name, in the order they are read: a piece that
# adds to a target comes after the one that makes it. A file that is there but
# not listed stops the configuration with its name, so nothing is left out
# unseen (a piece or source added on another branch, for instance).

# tobrinel_pieces(<name>...): includes <name>.cmake of the current folder, in
# that order; every *.cmake file of the folder must be named.
macro(tobrinel_pieces)
  set(_tobrinel_listed ${ARGN})
  list(TRANSFORM _tobrinel_listed APPEND .cmake)
  tobrinel_check_listed("*.cmake" ${_tobrinel_listed})
  foreach(_tobrinel_piece IN LISTS _tobrinel_listed)
    include(${CMAKE_CURRENT_SOURCE_DIR}/${_tobrinel_piece})
  endforeach()
endmacro()

# tobrinel_check_listed(<pattern> <file>...): every file of the current folder
# that matches the pattern is among the files (names relative to the folder).
function(tobrinel_check_listed pattern)
  file(GLOB found RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
  foreach(file IN LISTS found)
    if(NOT file IN_LIST ARGN)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file} is not listed in ${CMAKE_CURRENT_LIST_FILE}")
    endif()
  endforeach()
endfunction()
