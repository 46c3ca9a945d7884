# Installation and the Debian package: the program, its menu entry, its icon
# in the hicolor theme and its AppStream metainfo. Included from the top level
# after the program's target is defined.
include(GNUInstallDirs)

# The desktop file, icon and metainfo share this id; the program sets it as
# its desktop file name.
set(DIDIRA_APP_ID org.didira.Didira)
target_compile_definitions(Vavaroz PRIVATE DIDIRA_APP_ID="${DIDIRA_APP_ID}")

# AppStream wants a web address for each screenshot image; software centres
# fetch it from there. The project publishes none of its own, so the default
# names a host that never resolves; packagers set where docs/screenshot.png is
# served.
set(DIDIRA_SCREENSHOT_URL "https://didira.invalid/screenshot.png"
  CACHE STRING "Web address of docs/screenshot.png for the AppStream metainfo")

# The program keeps its own name (its base name is the message box caption);
# `didira` is the command, a link to it.
install(TARGETS Vavaroz RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
file(CREATE_LINK Vavaroz ${CMAKE_BINARY_DIR}/didira SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/didira DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/dist/${DIDIRA_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

configure_file(${CMAKE_SOURCE_DIR}/dist/${DIDIRA_APP_ID}.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/${DIDIRA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${DIDIRA_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Icon 128 at every size the theme asks for (res/tools/make_images.py draws them).
foreach(_size 16 32 48 128 256)
  if(_size EQUAL 16)
    set(_icon ${CMAKE_SOURCE_DIR}/res/icon128_16.png)
  elseif(_size EQUAL 32)
    set(_icon ${CMAKE_SOURCE_DIR}/res/icon128.png)
  else()
    set(_icon ${CMAKE_SOURCE_DIR}/res/icons/didira-${_size}.png)
  endif()
  install(FILES ${_icon} RENAME ${DIDIRA_APP_ID}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
endforeach()

# cpack -G DEB: a Debian package whose library dependencies dpkg-shlibdeps
# computes. The GStreamer elements the player creates come from plugin
# packages that no library link reveals, so they are named here.
set(CPACK_PACKAGE_NAME didira)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Internet radio player with a Japanese user interface")
set(CPACK_PACKAGE_DESCRIPTION
  "Didira plays internet radio stations picked from a station list: ASX, PLS\n\
and M3U playlists, Icecast and Shoutcast streams in MP3, AAC, Ogg Vorbis and\n\
Opus, and HLS, with volume and balance.")
set(DIDIRA_PACKAGE_MAINTAINER "Didira developers <didira@localhost>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${DIDIRA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, \
gstreamer1.0-pulseaudio | gstreamer1.0-pipewire, fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)
include(CPack)
