# SPDX-License-Identifier: MIT
#
# starglobe as an installed program: the `starglobe` launcher, the manuals, the desktop entry,
# icons, AppStream data, licence files, the install rules and the Debian package that
# scripts/make-deb.sh builds with CPack; the files it installs sit in packaging/. Included
# from the top CMakeLists.txt, after the
# programs' targets exist.
#
# Installed layout, under CMAKE_INSTALL_PREFIX (/usr for the package), as Debian lays out games:
#   games/starglobe                            the launcher, the command on PATH
#   lib/games/starglobe/starglobe              the demo program, private: it needs the launcher
#   bin/starglobe-render                       the offline renderer, a tool rather than a game
#   share/games/starglobe/tessaloon.wav        the soundtrack (STARGLOBE_DATA_DIR)
#   share/man/man6/starglobe.6.gz, share/man/man1/starglobe-render.1.gz
#   share/applications/, share/metainfo/, share/icons/hicolor/
#   share/doc/starglobe/copyright, changelog.gz
if(EMSCRIPTEN)
  return()  # the web build installs nothing of this
endif()

set(STARGLOBE_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(STARGLOBE_APP_ID io.github.starglobe.Starglobe)
set(STARGLOBE_GAMES_DIR games)
set(STARGLOBE_PRIVATE_DIR lib/games/starglobe)
set(STARGLOBE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/starglobe)
set(STARGLOBE_MAINTAINER "The starglobe team <starglobe@users.noreply.github.com>")
# The release date: the manuals' footer and the AppStream release carry it, so that the same
# sources give the same files on every build.
set(STARGLOBE_RELEASE_EPOCH 1796731200)  # 2026-12-08 12:00 UTC

# --- The launcher, twice: for the build tree (./run.sh plays build/starglobe with
# build/tessaloon.wav) and for the installed layout. It finds the demo and the soundtrack
# relative to its own folder, so an unpacked package works from any root too.
function(starglobe_launcher output folder demo soundtrack)
  file(RELATIVE_PATH STARGLOBE_LAUNCHER_DEMO ${folder} ${demo})
  file(RELATIVE_PATH STARGLOBE_LAUNCHER_SOUNDTRACK ${folder} ${soundtrack})
  configure_file(${CMAKE_SOURCE_DIR}/scripts/starglobe-launcher.sh ${output} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)
endfunction()
starglobe_launcher(${CMAKE_BINARY_DIR}/launcher/starglobe ${CMAKE_BINARY_DIR}/launcher
  ${CMAKE_BINARY_DIR}/starglobe ${CMAKE_BINARY_DIR}/${STARGLOBE_SOUNDTRACK_NAME})
set(root /installed)  # any absolute root: only the relative paths matter
starglobe_launcher(${CMAKE_BINARY_DIR}/install/starglobe ${root}/${STARGLOBE_GAMES_DIR}
  ${root}/${STARGLOBE_PRIVATE_DIR}/starglobe ${root}/${STARGLOBE_DATA_DIR}/${STARGLOBE_SOUNDTRACK_NAME})

# --- Manuals: scdoc sources in docs/man/, with the flash warning put in (build/man/*.scd),
# roff in build/man/ (for `man -l`), gzipped for installing as Debian wants them.
find_program(STARGLOBE_SCDOC scdoc REQUIRED)
set(man_pages)
foreach(page starglobe.6 starglobe-render.1)
  set(source ${CMAKE_BINARY_DIR}/man/${page}.scd)
  starglobe_with_flash_warning(${CMAKE_SOURCE_DIR}/docs/man/${page}.scd ${source})
  set(roff ${CMAKE_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${roff} ${roff}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${STARGLOBE_RELEASE_EPOCH}
            sh -c "'${STARGLOBE_SCDOC}' < '${source}' > '${roff}'"
    COMMAND sh -c "gzip -9nc '${roff}' > '${roff}.gz'"
    DEPENDS ${source}
    COMMENT "Building the manual ${page}"
    VERBATIM)
  list(APPEND man_pages ${roff}.gz)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9nc '${STARGLOBE_PACKAGING_DIR}/changelog' > '${changelog}'"
  DEPENDS ${STARGLOBE_PACKAGING_DIR}/changelog
  VERBATIM)
add_custom_target(starglobe-docs ALL DEPENDS ${man_pages} ${changelog})

# --- Install rules.
install(TARGETS starglobe RUNTIME DESTINATION ${STARGLOBE_PRIVATE_DIR})
install(TARGETS starglobe-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/starglobe DESTINATION ${STARGLOBE_GAMES_DIR})
install(FILES ${CMAKE_BINARY_DIR}/${STARGLOBE_SOUNDTRACK_NAME} DESTINATION ${STARGLOBE_DATA_DIR})
install(FILES ${STARGLOBE_PACKAGING_DIR}/${STARGLOBE_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The AppStream data with the flash warning put in.
starglobe_with_flash_warning(${STARGLOBE_PACKAGING_DIR}/${STARGLOBE_APP_ID}.metainfo.xml
  ${CMAKE_BINARY_DIR}/packaging/${STARGLOBE_APP_ID}.metainfo.xml)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${STARGLOBE_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 64 128 256)
  install(FILES ${STARGLOBE_PACKAGING_DIR}/icons/starglobe-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME starglobe.png)
endforeach()
install(FILES ${STARGLOBE_PACKAGING_DIR}/icons/starglobe.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${STARGLOBE_PACKAGING_DIR}/copyright ${changelog} DESTINATION ${STARGLOBE_DOC_DIR})

# --- The Debian package (scripts/make-deb.sh runs cpack in a build configured for /usr).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME starglobe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_CONTACT ${STARGLOBE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The machine's own Debian architecture, as dpkg names it (amd64 on x86-64).
find_program(STARGLOBE_DPKG dpkg)
if(STARGLOBE_DPKG)
  execute_process(COMMAND ${STARGLOBE_DPKG} --print-architecture
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/starglobe/starglobe)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The launcher converts other music with ffmpeg, and the renderer writes video with it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnuplot-nox)  # the renderer's --plot
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "full-screen audio-reactive demo with a star field and a globe
starglobe plays its soundtrack, or any music file, full screen and composes
every picture pixel by pixel from a violet star field, a turning sunlit globe
and noise, all driven by the sound at the playback position.
.
The package also contains starglobe-render, which renders the demo to video or
PNG frames without a window or sound card.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

# --- The package test (./test.sh package): checks the .deb that scripts/make-deb.sh built
# in this build tree, so it runs only in builds configured for it.
option(STARGLOBE_PACKAGE_TEST "Register the test of the .deb built by scripts/make-deb.sh" OFF)
if(STARGLOBE_PACKAGE_TEST)
  enable_testing()
  add_test(NAME package
    COMMAND ${CMAKE_SOURCE_DIR}/tests/package_test.sh
            ${CMAKE_BINARY_DIR}/starglobe_${PROJECT_VERSION}_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb)
  set_tests_properties(package PROPERTIES LABELS package TIMEOUT 300)
endif()
