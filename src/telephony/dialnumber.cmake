# The number rules: what is dialled for a stored number. Standard C++ and
# libphonenumber (Debian's libphonenumber-dev), which ships no CMake or
# pkg-config file.
find_path(PHONENUMBER_INCLUDE_DIR phonenumbers/phonenumberutil.h)
find_library(PHONENUMBER_LIBRARY phonenumber)
if(NOT PHONENUMBER_INCLUDE_DIR OR NOT PHONENUMBER_LIBRARY)
  message(FATAL_ERROR "libphonenumber not found: install libphonenumber-dev (scripts/setup.sh does)")
endif()
add_library(tobrinel_dialnumber STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DialNumber.cpp ${CMAKE_CURRENT_LIST_DIR}/DialNumber.h)
target_include_directories(tobrinel_dialnumber PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_include_directories(tobrinel_dialnumber SYSTEM PRIVATE ${PHONENUMBER_INCLUDE_DIR})
target_link_libraries(tobrinel_dialnumber PUBLIC tobrinel_keypad PRIVATE ${PHONENUMBER_LIBRARY})
