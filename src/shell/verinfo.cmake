# The version items: the reader (standard C++ only, so it can be fuzzed) and
# the block the build writes into a program file.
add_library(tobrinel_verinfo STATIC ${CMAKE_CURRENT_LIST_DIR}/Verinfo.cpp ${CMAKE_CURRENT_LIST_DIR}/Verinfo.h)
target_include_directories(tobrinel_verinfo PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The program's items, set in the caller's scope; the file version follows the
# project's version.
macro(tobrinel_version_items)
  if(PROJECT_VERSION_TWEAK STREQUAL "")
    set(TOBRINEL_FILE_VERSION "${PROJECT_VERSION}.0")
  else()
    set(TOBRINEL_FILE_VERSION "${PROJECT_VERSION}")
  endif()
  set(TOBRINEL_COPYRIGHT "Copyright © 2026")
  set(TOBRINEL_COMPANY "The Tobrinel developers")
  set(TOBRINEL_VERSION_TRANSLATION "0809FDE9")  # English (United Kingdom), UTF-8
  set(TOBRINEL_VERSION_ITEMS
    CompanyName "${TOBRINEL_COMPANY}"
    Comments "Address book and telephone dialler"
    FileDescription "Tobrinel Address Manager and Phone Dialler"
    FileVersion "${TOBRINEL_FILE_VERSION}"
    InternalName "tobrinel"
    LegalCopyright "${TOBRINEL_COPYRIGHT}"
    OriginalFilename "tobrinel"
    ProductVersion "${PROJECT_VERSION}"
    ProductName "Tobrinel Address Manager")
endmacro()

# Writes a block of these items into the target's file:
# tobrinel_version_block(<target> <translation> <key> <value> [<key> <value>...]).
function(tobrinel_version_block target translation)
  set(entries "    \"\\\\VarFileInfo\\\\Translation\\0\" \"${translation}\\0\"\n")
  set(pairs ${ARGN})
  list(LENGTH pairs count)
  if(count GREATER 0)
    math(EXPR last "${count} - 2")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET pairs ${i} key)
      list(GET pairs ${j} value)
      string(REPLACE "\\" "\\\\" value "${value}")
      string(REPLACE "\"" "\\\"" value "${value}")
      string(APPEND entries "    \"\\\\StringFileInfo\\\\${translation}\\\\${key}\\0\" \"${value}\\0\"\n")
    endforeach()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.cpp)
  file(CONFIGURE OUTPUT ${out} @ONLY CONTENT
"// Written by the build from its version items.
[[gnu::used, gnu::section(\".tobrinel.version\")]] static const char VersionBlock[] =
    \"TOBRINEL-VERSION-1\\0\"
@entries@;
")
  target_sources(${target} PRIVATE ${out})
endfunction()

function(tobrinel_program_version_block target)
  tobrinel_version_items()
  tobrinel_version_block(${target} ${TOBRINEL_VERSION_TRANSLATION} ${TOBRINEL_VERSION_ITEMS})
endfunction()
