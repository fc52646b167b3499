# Where "cmake --install" puts the program so that a Linux desktop finds it: the binary, the
# application entry, the autostart entry of the tray agent, the icon, the systemd user unit of
# the headless agent and the help page (which the program looks for in ../share/stowline).
include(GNUInstallDirs)

set(STOWLINE_AUTOSTART_DIR "/etc/xdg/autostart" CACHE PATH "Folder of the desktop's autostart entries")
set(STOWLINE_SYSTEMD_USER_DIR "lib/systemd/user" CACHE PATH "Folder of systemd user units (relative: under the prefix)")

install(TARGETS stowline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/stowline.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/stowline-autostart.desktop DESTINATION ${STOWLINE_AUTOSTART_DIR}
        RENAME stowline.desktop)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/stowline.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/help/stowline-help.html DESTINATION ${CMAKE_INSTALL_DATADIR}/stowline)

# The unit names the installed binary by its full path (systemd searches only a fixed PATH); the
# prefix is the one given at install time.
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/resources/stowline.service\" _unit)
  string(REPLACE \"ExecStart=stowline \" \"ExecStart=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/stowline \"
                 _unit \"\${_unit}\")
  file(WRITE \"${CMAKE_BINARY_DIR}/stowline.service.installed\" \"\${_unit}\")
")
install(FILES ${CMAKE_BINARY_DIR}/stowline.service.installed DESTINATION ${STOWLINE_SYSTEMD_USER_DIR}
        RENAME stowline.service)
