# The print commands of the main window open the Print Addresses dialog.
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_print)
