# Install layout and the Debian package (cpack -G DEB, or the 'package' target).
#
#   bin/velmor_xel, bin/xelcfg              the two programs
#   bin/xelhub                              the router hub, with its systemd
#                                           unit in lib/systemd/system
#   lib/exel/*.so, lib/exel/MODEM.LST       the shared libraries; the engine
#                                           reads MODEM.LST and loads its
#                                           windows (libtolcom32_widgets.so)
#                                           beside itself
#   lib/exel/xelemu, lib/exel/modememu      emulators for training and tests,
#                                           off the PATH
#   share/exel/*.hlp                        help files, read-only
#   share/exel/examples/                    a demonstration router
#   share/applications, share/icons         desktop entries and icons
#   share/doc/exel/examples/                the udev rule naming an adapter COM1
#
# Installed programs keep their data in ~/.local/share/exel (see
# platform/programfolder.h), since the install folder is read-only.

include(GNUInstallDirs)

set(EXEL_PRIVATE_LIBDIR lib/exel)
set(_exel_pkg ${PROJECT_SOURCE_DIR}/packaging)

set(_exel_programs velmor_xel xelcfg xelhub)
set(_exel_libraries exel_platform exel_platform_widgets tolcom32 tolcom32_widgets tolcom_core tolcom)
set(_exel_tools xelemu modememu)

foreach(t IN LISTS _exel_programs)
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../${EXEL_PRIVATE_LIBDIR}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
foreach(t IN LISTS _exel_libraries)
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${t} LIBRARY DESTINATION ${EXEL_PRIVATE_LIBDIR})
  endif()
endforeach()
foreach(t IN LISTS _exel_tools)
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${t} RUNTIME DESTINATION ${EXEL_PRIVATE_LIBDIR})
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/comm/engine/MODEM.LST DESTINATION ${EXEL_PRIVATE_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/panel/app/help/VelmorXel.hlp ${PROJECT_SOURCE_DIR}/editor/ui/velmorxel.hlp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/exel)
install(FILES ${PROJECT_SOURCE_DIR}/panel/app/demo/house.cfg ${PROJECT_SOURCE_DIR}/tools/xelemu/demo.cfg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/exel/examples)
install(FILES ${_exel_pkg}/velmor_xel.desktop ${_exel_pkg}/xelcfg.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_exel_pkg}/icons/velmor_xel.png ${_exel_pkg}/icons/xelcfg.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${_exel_pkg}/99-exel-com1.rules DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${_exel_pkg}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${_exel_pkg}/xelhub.service DESTINATION lib/systemd/system)
install(FILES ${_exel_pkg}/xelhub.ini DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME exel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "EXel")
set(CPACK_PACKAGE_CONTACT "EXel maintainers <exel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel and configuration editor for video/audio routing switchers")
set(CPACK_PACKAGE_DESCRIPTION
  "The operator's panel (velmor_xel) drives a routing switcher's controller over a serial port, directly or through a Hayes modem: takes, locks, salvos and status. The configuration editor (xelcfg) describes the router's sources, destinations and levels and writes the panel's configuration file. Includes the serial communications libraries, a controller emulator and a modem emulator for training.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6, libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6sql6 (>= 6.4), libqt6sql6-sqlite (>= 6.4), libqt6network6 (>= 6.4), libqt6websockets6 (>= 6.4), libmosquitto1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xvfb")
include(CPack)
