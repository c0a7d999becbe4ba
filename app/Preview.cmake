# The preview player's arithmetic and the snapshot files, shared by the main
# window, the trim, crop and progress dialogs. Still no Qt.
pkg_check_modules(PREVIEW_JPEG REQUIRED IMPORTED_TARGET GLOBAL libjpeg)
add_library(apppreview STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PreviewMath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Snapshot.cpp
)
target_link_libraries(apppreview PUBLIC appcore PRIVATE PkgConfig::PREVIEW_JPEG)
