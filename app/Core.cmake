# The application core without windows, and the command-line converter.
# Sources are listed by name: the windowed application's files share the
# folder but not this library.
add_library(appcore STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/GlobalUnit.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Profiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/FilesRecord.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/OutputOptions.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CommandLine.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ConsoleProgress.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/BatchProgress.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Batch.cpp
)
target_link_libraries(appcore PUBLIC probe engine common binding)
if(TARGET component)
  target_link_libraries(appcore PUBLIC component)
endif()

# The deployment data beside the programs that read it.
set(APP_DATA_FILES
  ${CMAKE_SOURCE_DIR}/data/tarnmp4format.ini
  ${CMAKE_SOURCE_DIR}/data/tarnmp4videoconverter.ini)
set(APP_DATA_COPIES)
foreach(data_file ${APP_DATA_FILES})
  get_filename_component(data_name ${data_file} NAME)
  add_custom_command(OUTPUT ${APP_BIN_DIR}/${data_name}
    COMMAND ${CMAKE_COMMAND} -E copy ${data_file} ${APP_BIN_DIR}/${data_name}
    DEPENDS ${data_file}
    COMMENT "Copying ${data_name}")
  list(APPEND APP_DATA_COPIES ${APP_BIN_DIR}/${data_name})
endforeach()
add_custom_target(appdata ALL DEPENDS ${APP_DATA_COPIES})

if(TARGET component)
  add_executable(tarnconv ${CMAKE_CURRENT_SOURCE_DIR}/tarnconv.cpp)
  target_link_libraries(tarnconv PRIVATE appcore component Threads::Threads)
  set_target_properties(tarnconv PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${APP_BIN_DIR})
  add_dependencies(tarnconv appdata)
endif()

# Preview arithmetic and snapshot files.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/Preview.cmake)
  include(${CMAKE_CURRENT_SOURCE_DIR}/Preview.cmake)
endif()
