# The main window's dial buttons and Options commands open the telephony windows.
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_telephony)
