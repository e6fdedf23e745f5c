# Installing Corvane in the usual Linux places, the systemd units, the
# desktop entry, and the Debian packages cpack builds from them:
#   corvane       the daemon, its tools, the web files and the service units
#   corvane-tray  the desktop front end (when Qt 6 was found) and its menu entry
set(CMAKE_INSTALL_DOCDIR share/doc/corvane)
include(GNUInstallDirs)

# Units go where systemd looks for them below the prefix (/usr/lib, /usr/local/lib).
set(CORVANE_UNIT_DIR lib/systemd/system CACHE PATH
    "Where the systemd units are installed (relative: below the prefix)")

# The units and the desktop entry name the installed programs, so they are
# filled in at install time, when the prefix is final (cpack installs below /usr).
function(corvane_install_configured template output destination component)
  set(out ${PROJECT_BINARY_DIR}/packaging/${output})
  install(CODE "
    set(CORVANE_BIN_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(CORVANE_DOC_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
    configure_file(\"${template}\" \"${out}\" @ONLY)" COMPONENT ${component})
  install(FILES ${out} DESTINATION ${destination} COMPONENT ${component})
endfunction()

foreach(unit corvane.service corvane@.service)
  corvane_install_configured(${PROJECT_SOURCE_DIR}/packaging/systemd/${unit}.in ${unit}
                             ${CORVANE_UNIT_DIR} corvane)
  # A copy naming the build's programs, for checking the units in the tests.
  set(CORVANE_BIN_DIR ${PROJECT_BINARY_DIR}/bin)
  set(CORVANE_DOC_DIR ${PROJECT_SOURCE_DIR})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/systemd/${unit}.in
                 ${PROJECT_BINARY_DIR}/packaging/build-units/${unit} @ONLY)
endforeach()

foreach(program corvane xap-hub xap-send vbs)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT corvane)
  endif()
endforeach()
# The daemon carries its web files and fills a home's HTML/ with them; the
# copy here is for reading and for web servers in front of it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/html/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane/html COMPONENT corvane)
if(EXISTS ${PROJECT_SOURCE_DIR}/share/scripts)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/scripts/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane/scripts COMPONENT corvane)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT corvane)

get_property(tray_built GLOBAL PROPERTY CORVANE_TRAY_BUILT)
if(tray_built)
  install(TARGETS corvane-tray RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT corvane-tray)
  corvane_install_configured(${PROJECT_SOURCE_DIR}/packaging/corvane-tray.desktop.in
                             corvane-tray.desktop ${CMAKE_INSTALL_DATADIR}/applications
                             corvane-tray)
endif()

# --- cpack: Debian packages -------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane maintainers <corvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vaux Aris 700 audio controller on an xAP network")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL corvane)
if(tray_built)
  list(APPEND CPACK_COMPONENTS_ALL corvane-tray)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_CORVANE_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_CORVANE_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb/postinst
    ${PROJECT_SOURCE_DIR}/packaging/deb/prerm
    ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
set(CPACK_DEBIAN_CORVANE_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_CORVANE_DESCRIPTION
    "Joins a Vaux Aris 700 six-zone audio controller to an xAP home-automation network,\n"
    "with its own web status page and VBScript scripting; runs as the service corvane.")
set(CPACK_DEBIAN_CORVANE-TRAY_PACKAGE_NAME corvane-tray)
set(CPACK_DEBIAN_CORVANE-TRAY_PACKAGE_DEPENDS "corvane (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CORVANE-TRAY_PACKAGE_SECTION x11)
set(CPACK_COMPONENT_CORVANE-TRAY_DESCRIPTION
    "Notification icon, echo window and setup form for the Corvane daemon (Qt 6).")
include(CPack)
