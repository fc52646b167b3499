# Where "cmake --install" puts the program so that a Linux desktop finds it: the binary, the
# application entry, the autostart entry of the tray agent, the icon, the systemd user unit of
# the headless agent and the help page (which the program looks for in ../share/stowline).
include(GNUInstallDirs)

set(STOWLINE_AUTOSTART_DIR "/etc/xdg/autostart" CACHE PATH "Folder of the desktop's autostart entries")
set(STOWLINE_SYSTEMD_USER_DIR "lib/systemd/user" CACHE PATH "Folder of systemd user units (relative: under the prefix)")

install(TARGETS stowline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The application entry is named by the AppStream id, which the metainfo file launches.
set(STOWLINE_APP_ID "io.github.stowline.Stowline")
install(FILES ${PROJECT_SOURCE_DIR}/resources/stowline.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${STOWLINE_APP_ID}.desktop)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${STOWLINE_APP_ID}.metainfo.xml
               ${CMAKE_BINARY_DIR}/${STOWLINE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${STOWLINE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The autostart entry lives in the share folder and the autostart folder holds a link to it: a
# package then removes it with the program (a file in /etc would stay behind as configuration).
install(FILES ${PROJECT_SOURCE_DIR}/resources/stowline-autostart.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/stowline)
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${STOWLINE_AUTOSTART_DIR}\")
  file(CREATE_LINK \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/stowline/stowline-autostart.desktop\"
       \"\$ENV{DESTDIR}${STOWLINE_AUTOSTART_DIR}/stowline.desktop\" SYMBOLIC)
")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/stowline.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME stowline)
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

# The manual page and the package's changelog, compressed as Debian wants them (gzip -n: no time
# stamp, so the same sources make the same package); the copyright file beside them.
configure_file(${PROJECT_SOURCE_DIR}/packaging/stowline.1 ${CMAKE_BINARY_DIR}/stowline.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/changelog @ONLY)
foreach(_doc stowline.1 changelog)
  install(CODE "
    execute_process(COMMAND gzip -9nc \"${CMAKE_BINARY_DIR}/${_doc}\"
                    OUTPUT_FILE \"${CMAKE_BINARY_DIR}/${_doc}.gz\" COMMAND_ERROR_IS_FATAL ANY)
  ")
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/stowline.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/stowline)
