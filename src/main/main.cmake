# The main window as a library (the tests link it) and the program.
add_library(tobrinel_mainwin STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Main.cpp ${CMAKE_CURRENT_LIST_DIR}/Main.h ${CMAKE_CURRENT_LIST_DIR}/MainShared.h
  ${CMAKE_CURRENT_LIST_DIR}/MainIndex.cpp ${CMAKE_CURRENT_LIST_DIR}/MainEditing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainQuickDial.cpp ${CMAKE_CURRENT_LIST_DIR}/MainSearch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainFileCommands.cpp ${CMAKE_CURRENT_LIST_DIR}/MainTelephony.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainPrinting.cpp ${CMAKE_CURRENT_LIST_DIR}/MainContacts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Dflttab.cpp ${CMAKE_CURRENT_LIST_DIR}/Dflttab.h
  ${CMAKE_CURRENT_LIST_DIR}/NamesModel.cpp ${CMAKE_CURRENT_LIST_DIR}/NamesModel.h
  ${CMAKE_CURRENT_LIST_DIR}/TabFocus.cpp ${CMAKE_CURRENT_LIST_DIR}/TabFocus.h
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp ${CMAKE_CURRENT_LIST_DIR}/CommandLine.h
  ${CMAKE_CURRENT_LIST_DIR}/Program.cpp ${CMAKE_CURRENT_LIST_DIR}/Program.h)
target_include_directories(tobrinel_mainwin PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_platform tobrinel_splash tobrinel_store Qt6::Widgets)

add_executable(tobrinel ${CMAKE_CURRENT_LIST_DIR}/tobrinel.cpp)
target_link_libraries(tobrinel PRIVATE tobrinel_mainwin)
set_target_properties(tobrinel PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The help file lies beside the program.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/help/tobrinel.HLP)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/help/tobrinel.HLP ${CMAKE_BINARY_DIR}/tobrinel.HLP COPYONLY)
endif()
