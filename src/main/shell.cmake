# The shell's part of the program: its version block and its place on the
# desktop. Runs after main.cmake, which makes the targets.
tobrinel_program_version_block(tobrinel)

# Installation. The program and its help file share a folder of their own,
# since the program looks for the help file beside itself; a link in the
# binary folder puts the program on the path.
include(GNUInstallDirs)
set(TOBRINEL_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/tobrinel)
set(TOBRINEL_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/src/shell/desktop)
set(TOBRINEL_ICON_DIR ${CMAKE_SOURCE_DIR}/src/shell/icons)
install(TARGETS tobrinel RUNTIME DESTINATION ${TOBRINEL_PROGRAM_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/help/tobrinel.HLP DESTINATION ${TOBRINEL_PROGRAM_DIR})
install(CODE "
  set(prefix \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(RELATIVE_PATH target \"\${prefix}/${CMAKE_INSTALL_BINDIR}\" \"\${prefix}/${TOBRINEL_PROGRAM_DIR}/tobrinel\")
  file(MAKE_DIRECTORY \"\${prefix}/${CMAKE_INSTALL_BINDIR}\")
  message(STATUS \"Installing: \${prefix}/${CMAKE_INSTALL_BINDIR}/tobrinel -> \${target}\")
  file(CREATE_LINK \"\${target}\" \"\${prefix}/${CMAKE_INSTALL_BINDIR}/tobrinel\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${prefix}/${CMAKE_INSTALL_BINDIR}/tobrinel\")
")
install(FILES ${TOBRINEL_DESKTOP_DIR}/tobrinel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TOBRINEL_DESKTOP_DIR}/tobrinel.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${TOBRINEL_ICON_DIR}/tobrinel-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tobrinel.png)
endforeach()
install(FILES ${TOBRINEL_ICON_DIR}/tobrinel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Into a live system (no DESTDIR) the desktop's caches learn of the new type,
# entry and icon at once; a packaging run leaves that to the package's hooks.
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    set(share \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}\")
    find_program(update_mime update-mime-database)
    find_program(update_desktop update-desktop-database)
    find_program(update_icons gtk-update-icon-cache)
    if(update_mime)
      execute_process(COMMAND \${update_mime} \"\${share}/mime\")
    endif()
    if(update_desktop)
      execute_process(COMMAND \${update_desktop} -q \"\${share}/applications\")
    endif()
    if(update_icons AND EXISTS \"\${share}/icons/hicolor/index.theme\")
      execute_process(COMMAND \${update_icons} -q -t -f \"\${share}/icons/hicolor\")
    endif()
  endif()
")
