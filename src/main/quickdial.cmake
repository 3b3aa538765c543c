# The main window opens the dial pad and Quick Dial.
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_dialpad)
