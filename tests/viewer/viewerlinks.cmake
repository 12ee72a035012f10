# Viewer window link core tests
velmaris_add_test(test_viewer_links SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_viewer_links.cpp LIBS velmaris_viewer velmaris_db)
