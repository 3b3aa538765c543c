# One sync of a book, driven alike by the tool and the program (Qt Core and
# Network, no windows).
add_library(tobrinel_syncsession STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SyncSession.cpp ${CMAKE_CURRENT_LIST_DIR}/SyncSession.h)
target_include_directories(tobrinel_syncsession PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_syncsession PUBLIC tobrinel_syncengine tobrinel_carddav tobrinel_store)
