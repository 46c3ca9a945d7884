# Installation and the Debian package: the program, its menu entry, its icon
# in the hicolor theme and its AppStream metainfo. Included from the top level
# after the program's target is defined.
include(GNUInstallDirs)

# The desktop file, icon and metainfo share this id; the program sets it as
# its desktop file name.
set(DIDIRA_APP_ID org.didira.Didira)
target_compile_definitions(Vavaroz PRIVATE DIDIRA_APP_ID="${DIDIRA_APP_ID}"
  DIDIRA_VERSION="${PROJECT_VERSION}")

# AppStream wants a web address for each screenshot image; software centres
# fetch it from there. The project publishes none of its own, so the default
# names a host that never resolves; packagers set where docs/screenshot.png is
# served.
set(DIDIRA_SCREENSHOT_URL "https://didira.invalid/screenshot.png"
  CACHE STRING "Web address of docs/screenshot.png for the AppStream metainfo")

# The program keeps its own name (its base name is the message box caption);
# `didira` is the command, a link to it.
install(TARGETS Vavaroz RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package's, or --strip) also drops the compilers'
# notes, as dh_strip does.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Vavaroz\" COMMAND_ERROR_IS_FATAL ANY)
endif()")
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

# The manual page (the program's name is a link to it), the copyright and
# the changelog, compressed as Debian keeps them (no time stamp, so the same
# sources give the same bytes).
# The maintainer defaults to the project's commit address, under a reserved
# domain that names no one else's host; packagers set their own. A build
# configured with the earlier default, which lintian rejects, takes the new one.
if(DIDIRA_PACKAGE_MAINTAINER STREQUAL "Didira developers <didira@localhost>")
  unset(DIDIRA_PACKAGE_MAINTAINER CACHE)
endif()
set(DIDIRA_PACKAGE_MAINTAINER "Didira Developers <dev@didira.invalid>"
  CACHE STRING "Maintainer field of the Debian package and its changelog")
configure_file(${CMAKE_SOURCE_DIR}/dist/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
set(_docs)
foreach(_doc ${CMAKE_SOURCE_DIR}/dist/didira.1 ${CMAKE_BINARY_DIR}/changelog)
  get_filename_component(_name ${_doc} NAME)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${_name}.gz
    COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${_doc} ${CMAKE_BINARY_DIR}/${_name}.gz
    DEPENDS ${_doc} VERBATIM)
  list(APPEND _docs ${CMAKE_BINARY_DIR}/${_name}.gz)
endforeach()
add_custom_target(didira_docs ALL DEPENDS ${_docs})
file(CREATE_LINK didira.1.gz ${CMAKE_BINARY_DIR}/Vavaroz.1.gz SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/didira.1.gz ${CMAKE_BINARY_DIR}/Vavaroz.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/dist/copyright ${CMAKE_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/didira)

# cpack -G DEB: a Debian package whose library dependencies dpkg-shlibdeps
# computes. What no library link reveals is named here: the GStreamer
# plugins of the elements the player creates, and what a listener cannot do
# without (a font for the Japanese dialog, the trust store and TLS module for
# https stations, a sound output, the icon theme's index, the SQLite driver
# of the song history). The decoders of AAC and HLS are recommended, so apt
# installs them by default; a system installed without recommends still
# plays MP3, Vorbis and Opus, and the player names the plugin a station lacks.
set(CPACK_PACKAGE_NAME didira)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Internet radio player with a Japanese user interface")
set(CPACK_PACKAGE_DESCRIPTION
  "Didira plays internet radio stations picked from a station list: ASX, PLS\n\
and M3U playlists, Icecast and Shoutcast streams in MP3, AAC, Ogg Vorbis and\n\
Opus, and HLS, with volume and balance.")
set(CPACK_PACKAGE_CONTACT ${DIDIRA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, \
fonts-ipafont-gothic | fonts-noto-cjk | fonts-vlgothic, ca-certificates, glib-networking, \
gstreamer1.0-pulseaudio | gstreamer1.0-pipewire | gstreamer1.0-alsa, hicolor-icon-theme, \
libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav")
set(CPACK_STRIP_FILES ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebInstalledSize.cmake)
include(CPack)
