# Installation as a desktop tool and the Debian package (cpack -G DEB in the build folder).
#
# The tool reads and writes sys/ below its working folder, so the shipped sys files install as
# read-only defaults under share/korvant/sys, and korvant-launcher (the desktop entry's command)
# gives every user a writable working folder seeded from them.
include(GNUInstallDirs)

install(TARGETS korvant-debug korvant-sim korvant-cli korvant-report
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/korvant-launcher
  DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/sys/kv.ico
    ${PROJECT_SOURCE_DIR}/sys/set.rc
    ${PROJECT_SOURCE_DIR}/sys/tm.rc
  DESTINATION ${CMAKE_INSTALL_DATADIR}/korvant/sys
  PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvant.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The bash completion is made from korvant-cli's tables and the model table: a small program fills
# them into the template at build time, so a new option, subcommand or model needs nothing here.
add_executable(korvant-completion ${PROJECT_SOURCE_DIR}/packaging/completion.cpp)
target_link_libraries(korvant-completion PRIVATE kvcli)
set(KORVANT_COMPLETION ${PROJECT_BINARY_DIR}/packaging/korvant-cli.bash-completion)
add_custom_command(
  OUTPUT ${KORVANT_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND korvant-completion ${PROJECT_SOURCE_DIR}/packaging/korvant-cli.bash-completion.in ${KORVANT_COMPLETION}
  DEPENDS korvant-completion ${PROJECT_SOURCE_DIR}/packaging/korvant-cli.bash-completion.in
  COMMENT "Writing the bash completion of korvant-cli with the models of the table"
  VERBATIM)
add_custom_target(korvant-completion-file ALL DEPENDS ${KORVANT_COMPLETION})
install(FILES ${KORVANT_COMPLETION}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME korvant-cli)

# The menu icon is the PNG inside kv.ico, taken out at build time so the two never drift apart.
add_executable(korvant-ico2png ${PROJECT_SOURCE_DIR}/packaging/ico2png.cpp)
set(KORVANT_ICON_PNG ${PROJECT_BINARY_DIR}/packaging/korvant.png)
add_custom_command(
  OUTPUT ${KORVANT_ICON_PNG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND korvant-ico2png ${PROJECT_SOURCE_DIR}/sys/kv.ico ${KORVANT_ICON_PNG} 32
  DEPENDS korvant-ico2png ${PROJECT_SOURCE_DIR}/sys/kv.ico
  COMMENT "Taking the menu icon out of sys/kv.ico"
  VERBATIM)
add_custom_target(korvant-icon ALL DEPENDS ${KORVANT_ICON_PNG})
install(FILES ${KORVANT_ICON_PNG}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

# Manual pages made from each program's --help and --version by Debian's help2man (scripts/deps.sh),
# so they say what the programs say. korvant-debug prints both without a display.
find_program(KORVANT_HELP2MAN help2man)
if(NOT KORVANT_HELP2MAN)
  message(WARNING "help2man not found (scripts/deps.sh installs it): no manual pages")
endif()
set(KORVANT_MAN_DIR ${PROJECT_BINARY_DIR}/packaging/man)
file(MAKE_DIRECTORY ${KORVANT_MAN_DIR})
set(KORVANT_MAN_PAGES)
foreach(entry
    "korvant-debug|test KV remote I/O modules and set their parameters (the desktop tool)"
    "korvant-cli|find, read, write, poll and set KV remote I/O modules from a shell"
    "korvant-sim|simulated KV remote I/O modules on a pseudo-terminal or a TCP port"
    "korvant-report|a checkout journal's report as PDF, HTML and CSV, without a display")
  if(NOT KORVANT_HELP2MAN)
    break()
  endif()
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 summary)
  set(page ${KORVANT_MAN_DIR}/${program}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANT_MAN_DIR}
    # In a sanitizer build a leak report at exit would fail the page; the tests look for leaks.
    # Run where no sys/ is and without XDG_DATA_HOME, korvant-cli names its sys folder as
    # ~/.local/share/korvant/sys on every machine.
    COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_DATA_HOME QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            ${KORVANT_HELP2MAN} --no-info --section=1 --name=${summary} --output=${page} $<TARGET_FILE:${program}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${program}
    WORKING_DIRECTORY ${KORVANT_MAN_DIR}
    COMMENT "Manual page of ${program} from its --help"
    VERBATIM)
  list(APPEND KORVANT_MAN_PAGES ${page}.gz)
endforeach()
if(KORVANT_MAN_PAGES)
  add_custom_target(korvant-manpages ALL DEPENDS ${KORVANT_MAN_PAGES})
  install(FILES ${KORVANT_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# /usr/share/doc/korvant: the copyright file naming the licence (GPL-3.0-or-later) and the changelog.
set(KORVANT_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${KORVANT_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" sh ${PROJECT_SOURCE_DIR}/packaging/changelog ${KORVANT_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(korvant-changelog ALL DEPENDS ${KORVANT_CHANGELOG})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${KORVANT_CHANGELOG}
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(KORVANT_PACKAGE_MAINTAINER "KORVANT tool developers" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvant)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KORVANT")
set(CPACK_PACKAGE_CONTACT "${KORVANT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "commissioning and test tool for KV RS-485 remote I/O modules")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary first and turns the empty line into Debian's " ." paragraph break.
set(CPACK_PACKAGE_DESCRIPTION
"KORVANT Debugging Software talks Modbus RTU to the KV family of remote I/O
modules through a serial port and an RS-485 adapter. It tests a module's
digital inputs and outputs, analog inputs and analog output, and finds and
changes its address, baud rate and parity.

korvant-launcher starts the tool in a per-user working folder seeded with the
default settings files; korvant-cli does the same operations from a shell,
without a display; korvant-sim simulates modules on a pseudo-terminal.")
# Qt loads its platform plugin (xcb) at run time, which dpkg-shlibdeps cannot see. The windows'
# messages end in a full-width "！" (U+FF01), which the usual Latin fonts lack; they draw it from
# IPAPGothic, whose "！" is about as wide as a "!" and whose lines are no taller than DejaVu's.
set(KORVANT_RUNTIME_EXTRA "qt6-qpa-plugins, fonts-ipafont-gothic")
find_program(KORVANT_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KORVANT_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KORVANT_RUNTIME_EXTRA}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4), libqt6charts6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6network6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libc6, libstdc++6, ${KORVANT_RUNTIME_EXTRA}")
endif()
include(CPack)
