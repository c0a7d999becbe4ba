# preview_bench: one preview step through the probe against a minimal seek
# and decode loop; the media maker and the loop link the libraries directly.
if(TARGET apppreview)
  pkg_check_modules(PREVIEW_BENCH_LIBAV REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil libswscale)
  add_executable(preview_bench ${CMAKE_CURRENT_SOURCE_DIR}/PreviewBench.cpp)
  target_link_libraries(preview_bench PRIVATE apppreview probe PkgConfig::PREVIEW_BENCH_LIBAV)
endif()
