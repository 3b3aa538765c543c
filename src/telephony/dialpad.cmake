# The keypad's letters and digits: standard C++ only.
add_library(tobrinel_keypad STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Keypad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Keypad.h)
target_include_directories(tobrinel_keypad PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# The dial pad and Quick Dial windows.
add_library(tobrinel_dialpad STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Dialler.cpp ${CMAKE_CURRENT_LIST_DIR}/Dialler.h
  ${CMAKE_CURRENT_LIST_DIR}/Qdial.cpp ${CMAKE_CURRENT_LIST_DIR}/Qdial.h
  ${CMAKE_CURRENT_LIST_DIR}/DialRequest.h)
target_include_directories(tobrinel_dialpad PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_dialpad PUBLIC tobrinel_keypad tobrinel_custom tobrinel_telephony tobrinel_store Qt6::Widgets)
