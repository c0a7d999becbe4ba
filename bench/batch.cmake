# batch_bench: the main window's batch with and without the live picture
# against tarnconv on the same clips.
if(TARGET gui)
  add_executable(batch_bench ${CMAKE_CURRENT_LIST_DIR}/BatchBench.cpp)
  target_link_libraries(batch_bench PRIVATE gui Threads::Threads)
  target_compile_definitions(batch_bench PRIVATE APP_BIN_DIR="${APP_BIN_DIR}")
  add_dependencies(batch_bench tarnconv)
endif()
