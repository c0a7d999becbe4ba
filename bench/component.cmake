# component_bench: batch throughput of the converter component, sequential
# against concurrent jobs, and codec threads of one H.264 encode. The media
# generator inside links the libraries directly; the component binds them
# at run time as the program does.
pkg_check_modules(COMPONENT_BENCH_LIBAV REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil)
add_executable(component_bench ${CMAKE_CURRENT_LIST_DIR}/ComponentBench.cpp)
target_link_libraries(component_bench PRIVATE component PkgConfig::COMPONENT_BENCH_LIBAV Threads::Threads)
