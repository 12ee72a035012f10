# Frame decoding: both decoders against generated series, files
# built with DCMTK in the test, and pydicom's sample files and decoding.
velmaris_add_test(test_frame_decoder
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_frame_decoder.cpp
    LIBS velmaris_viewer velmaris_seriesgen velmaris_dicom_testing velmaris_dicom
         DCMTK::dcmdata Qt6::Gui
    TIMEOUT 600)
