# Application core: settings, profiles, option builder, output names.
add_project_test(app_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/GlobalUnitTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ProfilesTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/OutputOptionsTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/FilesRecordTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CommandLineTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/BatchProgressTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/DeviceOptionsTest.cpp
  LIBS appcore)
target_compile_definitions(app_tests PRIVATE APP_DATA_DIR="${CMAKE_SOURCE_DIR}/data")

# The command-line converter, run as a program on generated media.
if(TARGET tarnconv)
  add_project_test(tarnconv_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/TarnconvTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/DevicePictureTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/CleanLogTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/FullDiskTest.cpp
    LIBS appcore MEDIA)
  target_compile_definitions(tarnconv_tests PRIVATE TARNCONV_PATH="$<TARGET_FILE:tarnconv>")
  add_dependencies(tarnconv_tests tarnconv)
endif()
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/Preview.cmake)
  include(${CMAKE_CURRENT_SOURCE_DIR}/Preview.cmake)
endif()
