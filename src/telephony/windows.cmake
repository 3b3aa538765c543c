# The telephony windows: modem detection with the command exchange, the
# dialling window and the two option windows. The exchange and the dial-string
# rules need no window and build on their own.
add_library(tobrinel_modem STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ModemExchange.cpp ${CMAKE_CURRENT_LIST_DIR}/ModemExchange.h)
target_include_directories(tobrinel_modem PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_modem PUBLIC tobrinel_serial Qt6::Core)

add_library(tobrinel_telephony STATIC
  ${CMAKE_CURRENT_LIST_DIR}/OptionsDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/OptionsDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/MDetect.cpp ${CMAKE_CURRENT_LIST_DIR}/MDetect.h
  ${CMAKE_CURRENT_LIST_DIR}/Dialopt.cpp ${CMAKE_CURRENT_LIST_DIR}/Dialopt.h
  ${CMAKE_CURRENT_LIST_DIR}/Olineopt.cpp ${CMAKE_CURRENT_LIST_DIR}/Olineopt.h
  ${CMAKE_CURRENT_LIST_DIR}/Dial.cpp ${CMAKE_CURRENT_LIST_DIR}/Dial.h)
target_include_directories(tobrinel_telephony PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_telephony PUBLIC tobrinel_modem tobrinel_dialnumber tobrinel_platform tobrinel_store Qt6::Widgets)
