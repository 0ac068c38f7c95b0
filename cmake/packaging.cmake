# Packages made by CPack from the install rules of cmake/install.cmake: on
# Windows the release zip, pitchime-<version>-win64.zip; elsewhere a .deb
# (meant for the real-board build: cmake --workflow --preset deb).
set(CPACK_PACKAGE_NAME pitchime)
set(CPACK_PACKAGE_VENDOR "the pitchime authors")
# The MIT licence; the .deb carries it in its copyright file (cmake/deb/).
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(PITCHIME_PACKAGE_CONTACT "pitchime developers <maintainers@pitchime.example>"
    CACHE STRING "Maintainer of the packages: name <address>")
set(CPACK_PACKAGE_CONTACT "${PITCHIME_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "play text scores on an 8254 tone board over an FTDI FT245R")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "pitchime plays a tune, written as a small text score, on a tone board: an"
  "Intel 8254 timer whose three counters make square-wave tones, driven"
  "through an FTDI FT245R USB chip in asynchronous bit-bang mode."
  "pitchime gives each voice its own counter; pitchime-trill alternates two"
  "voices on one counter; pitchime-live plays the board live from a MIDI"
  "keyboard or sequencer, or a MIDI file in real time; pitchime-render"
  "plays a score on a virtual tone board in virtual time and writes the"
  "sound to a file; pitchime-import turns a MIDI file into a score. A udev"
  "rule lets the user at the machine reach the board without root.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pitchime-${PROJECT_VERSION}-${pitchime_windows_arch})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The package's dependencies are those dpkg-shlibdeps finds in the programs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian's copyright file and the changelog of this native package. The
  # changelog's newest entry names the version being packed.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # What lintian must not report of the package, each with the reason.
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME pitchime)
  pitchime_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/deb/changelog ${CMAKE_INSTALL_DOCDIR})
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/deb/changelog pitchime_changelog_top LIMIT_COUNT 1)
  if(NOT pitchime_changelog_top MATCHES "^pitchime \\(${PROJECT_VERSION}\\) ")
    message(WARNING "cmake/deb/changelog has no entry for version ${PROJECT_VERSION} at its top")
  endif()
endif()

include(CPack)
