# Measurement core tests
velmaris_add_test(test_measurements SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_measurements.cpp LIBS velmaris_viewer)
