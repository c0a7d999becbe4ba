# transcode_bench: the engine against a minimal pipeline on the libraries.
# As a measuring tool it may link the codec libraries directly.
pkg_check_modules(LIBAV_BENCH REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil libswscale)
add_executable(transcode_bench ${CMAKE_CURRENT_LIST_DIR}/TranscodeBench.cpp)
target_link_libraries(transcode_bench PRIVATE engine PkgConfig::LIBAV_BENCH)
