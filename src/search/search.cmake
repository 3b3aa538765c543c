# The search engine needs no window, so it is tested without a display; the
# Find dialog answers its questions.
add_library(tobrinel_dofind STATIC ${CMAKE_CURRENT_LIST_DIR}/Dofind.cpp ${CMAKE_CURRENT_LIST_DIR}/Dofind.h)
target_include_directories(tobrinel_dofind PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tobrinel_dofind PUBLIC tobrinel_store)

add_library(tobrinel_find STATIC ${CMAKE_CURRENT_LIST_DIR}/Find.cpp ${CMAKE_CURRENT_LIST_DIR}/Find.h)
target_link_libraries(tobrinel_find PUBLIC tobrinel_dofind tobrinel_platform Qt6::Widgets)
