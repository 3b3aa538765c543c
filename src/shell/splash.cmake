# The shell windows: the splash, the About box and the program's icon.
add_library(tobrinel_splash STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Splash.cpp ${CMAKE_CURRENT_LIST_DIR}/Splash.h
  ${CMAKE_CURRENT_LIST_DIR}/About.cpp ${CMAKE_CURRENT_LIST_DIR}/About.h
  ${CMAKE_CURRENT_LIST_DIR}/ProgramIcon.cpp ${CMAKE_CURRENT_LIST_DIR}/ProgramIcon.h)
target_include_directories(tobrinel_splash PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_splash PUBLIC tobrinel_verinfo Qt6::Widgets)
set(TOBRINEL_ICON_SIZES 16 22 24 32 48 64 128 256)
list(TRANSFORM TOBRINEL_ICON_SIZES REPLACE "(.+)" "${CMAKE_CURRENT_LIST_DIR}/icons/tobrinel-\\1.png"
     OUTPUT_VARIABLE TOBRINEL_ICON_FILES)
qt_add_resources(tobrinel_splash tobrinel_icons PREFIX /icons BASE ${CMAKE_CURRENT_LIST_DIR}/icons
                 FILES ${TOBRINEL_ICON_FILES})
