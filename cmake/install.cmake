# What `cmake --install` puts where, in the usual places (GNUInstallDirs):
# the programs, a manual page for each and one for the score format, the
# udev rule of the real-board build, the example scores and the documents.
# On Windows the programs, the README, the licence, the documents and the
# examples land in the top directory of the prefix, as in the release zip.
# Included from the top-level CMakeLists.txt once every program's target is
# defined: a program is installed, with its manual page, when its target
# exists.
include(GNUInstallDirs)

# Directories the install creates are 0755 whatever the umask, as the
# programs are; other files are 0644.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(pitchime_programs pitchime pitchime-trill pitchime-live pitchime-render pitchime-import)

if(WIN32)
  foreach(program IN LISTS pitchime_programs)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION .)
    endif()
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples DESTINATION .)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION . PATTERN man EXCLUDE)
  return()
endif()

# Installs FILE into DESTINATION as FILE's name plus .gz, compressed at
# build time (Debian's policy asks for compressed manual pages and
# changelogs; man reads them). -n keeps the name and time out of the gzip
# header, so that builds repeat. Without gzip the file goes in as it is.
find_program(PITCHIME_GZIP gzip)
function(pitchime_install_gzipped file destination)
  get_filename_component(name ${file} NAME)
  if(NOT PITCHIME_GZIP)
    install(FILES ${file} DESTINATION ${destination})
    return()
  endif()
  set(copy ${PROJECT_BINARY_DIR}/gzipped/${destination}/${name})
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}
    COMMAND ${PITCHIME_GZIP} -9nf ${copy}
    DEPENDS ${file}
    VERBATIM)
  string(MAKE_C_IDENTIFIER "gzip_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()

foreach(program IN LISTS pitchime_programs)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    pitchime_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/${program}.1 ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
pitchime_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/pitchime-score.5 ${CMAKE_INSTALL_MANDIR}/man5)

# The README, the pages of docs/ and the scores they show, as in the
# source tree, so that the README's links and the pages' paths hold.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR} PATTERN man EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The udev rule and the AppStream file go with the programs that drive a
# real board. udev reads /usr/lib/udev/rules.d, /lib/udev/rules.d and
# /etc/udev/rules.d, not the folders under /usr/local: an install there
# wants -DPITCHIME_UDEV_RULES_DIR=/etc/udev/rules.d.
if(PITCHIME_BOARD STREQUAL "ftdi" AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(PITCHIME_UDEV_RULES_DIR "lib/udev/rules.d"
      CACHE STRING "Where the udev rule is installed (relative to the prefix, or absolute)")
  install(FILES ${PROJECT_SOURCE_DIR}/udev/70-pitchime-ft245r.rules DESTINATION ${PITCHIME_UDEV_RULES_DIR})
  # AppStream's description of the package, with the board's USB id, so that
  # software centres can offer it when an FT245R is plugged in.
  install(FILES ${PROJECT_SOURCE_DIR}/metainfo/example.pitchime.pitchime.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
endif()
