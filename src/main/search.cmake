# The Find dialog and the search engine behind Find and Find Next.
target_link_libraries(tobrinel_mainwin PUBLIC tobrinel_find)
