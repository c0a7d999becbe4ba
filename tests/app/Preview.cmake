# Preview arithmetic and snapshot files; the tests read JPEGs back with
# libjpeg, and one case decodes a generated clip.
add_project_test(preview_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/PreviewMathTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SnapshotTest.cpp
  LIBS apppreview PkgConfig::PREVIEW_JPEG
  MEDIA)
