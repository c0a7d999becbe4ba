# Installation into a prefix and the Debian package. Installed programs find
# their data under ../share/tarnmp4videoconverter/ (app/GlobalUnit).
include(GNUInstallDirs)
set(APP_ID org.tarn.Mp4VideoConverter)
set(APP_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/tarnmp4videoconverter)
set(APP_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/data/desktop)

install(TARGETS tarnconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/tarnmp4format.ini ${CMAKE_SOURCE_DIR}/data/tarnmp4videoconverter.ini
        DESTINATION ${APP_SHARE_DIR})
# The terms, where Debian keeps a package's: the GPL's text itself is the
# system's copy in /usr/share/common-licenses.
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnmp4videoconverter)

# The man page, compressed as Debian keeps them.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/tarnconv.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND gzip -9nc ${APP_DESKTOP_DIR}/tarnconv.1 > ${CMAKE_BINARY_DIR}/man/tarnconv.1.gz
  DEPENDS ${APP_DESKTOP_DIR}/tarnconv.1
  COMMENT "Compressing the tarnconv man page")
add_custom_target(appman ALL DEPENDS ${CMAKE_BINARY_DIR}/man/tarnconv.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/man/tarnconv.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(BUILD_GUI)
  install(TARGETS tarnmp4videoconverter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/skin ${CMAKE_SOURCE_DIR}/data/help DESTINATION ${APP_SHARE_DIR})
  install(FILES ${APP_DESKTOP_DIR}/${APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${APP_DESKTOP_DIR}/${APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${APP_DESKTOP_DIR}/${APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size ${APP_ICON_SIZES})
    install(FILES ${APP_ICON_DIR}/${size}.png RENAME ${APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# cpack -G DEB in the build folder. The codec libraries are loaded at run
# time, so their packages are named here, with Qt's platform plugins, which
# Qt also loads at run time; dpkg-shlibdeps finds the rest.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnmp4videoconverter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarn developers <dev@tarn.example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch video converter for portable players, phones and consoles")
set(CPACK_PACKAGE_DESCRIPTION
    "Converts video, audio and picture files with one of 36 device and format presets\n(MP4, AVI, M4V, M4A, MP3, AAC), with trimming, cropping, preview and snapshots.\nIncludes the command-line converter tarnconv.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libavcodec59, libavformat59, libavutil57, libswscale6, libswresample4, libavfilter8, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
include(CPack)
