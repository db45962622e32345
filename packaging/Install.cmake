# Install rules and the Debian package (CPack) for the two programs, included from the top-level
# CMakeLists.txt once the targets exist.

include(GNUInstallDirs)
# The documentation folder is named after the package, as Debian wants it (GNUInstallDirs would
# name it after the project).
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvane3)
# Relative to the prefix unless absolute; a Debian package uses /lib/systemd/system.
set(CORVANE3_SYSTEMD_UNITDIR "lib/systemd/system" CACHE PATH
    "Folder for the logging service's unit")
set(CORVANE3_MAINTAINER_EMAIL "corvane3-dev@example.org" CACHE STRING
    "The package maintainer's address")
cmake_path(NORMAL_PATH CORVANE3_SYSTEMD_UNITDIR OUTPUT_VARIABLE unitdir)
set(CORVANE3_SYSUSERSDIR "lib/sysusers.d" CACHE PATH
    "Folder for the logging service's user and group (systemd-sysusers)")
set(packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)

install(TARGETS corvane3 corvane3-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/help.html README.md ${packaging}/copyright
        DESTINATION ${docdir})
# A commented limits file with no limit set, to copy beside Corvane3.ini.
install(FILES ${packaging}/Corvane3-limits.ini DESTINATION ${docdir}/examples)
install(FILES ${packaging}/corvane3.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Alerting rules for the Prometheus servers that scrape the headless run's metrics, and an
# Alertmanager configuration to route their alerts by severity.
# Debian's prometheus.yml with the loggers' job added.
install(FILES ${packaging}/prometheus/corvane3.rules.yml ${packaging}/prometheus/alertmanager.yml
              ${packaging}/prometheus/prometheus.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane3/prometheus)
# A Grafana dashboard of those metrics, to import into Grafana.
install(FILES ${packaging}/grafana/corvane3.json DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane3/grafana)
install(FILES ${packaging}/corvane3-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME corvane3.xml)
install(FILES ${packaging}/corvane3.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${packaging}/icons/corvane3-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME corvane3.png)
endforeach()

# The unit names the program where this build installs it.
configure_file(${packaging}/corvane3-logger@.service.in ${generated}/corvane3-logger@.service
               @ONLY)
install(FILES ${generated}/corvane3-logger@.service DESTINATION ${unitdir})
# Its options for every instance, commented out (a conffile of the package).
install(FILES ${packaging}/corvane3-logger.default DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default
        RENAME corvane3-logger)
# Its user, and the group that may read its records.
install(FILES ${packaging}/corvane3-sysusers.conf DESTINATION ${CORVANE3_SYSUSERSDIR}
        RENAME corvane3.conf)

# Debian's change log, dated by SOURCE_DATE_EPOCH when it is set (reproducible builds).
string(TIMESTAMP CORVANE3_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging}/changelog.in ${generated}/changelog.Debian @ONLY)

# The man pages are made from each program's own --help (help2man), with the sections it lacks
# from packaging/*.h2m, so the two never drift apart. The window program's --version says
# "Corvane3", its window title; the page is named after the command.
find_program(CORVANE3_HELP2MAN help2man)
find_program(CORVANE3_GZIP gzip)
if(NOT CORVANE3_HELP2MAN OR NOT CORVANE3_GZIP)
  message(WARNING "help2man or gzip not found: no man pages (scripts/setup-deps installs them)")
else()
  set(pages)
  set(summary_corvane3 "watch over and control a cesium-beam frequency standard")
  set(summary_corvane3-sim "a simulated cesium-beam frequency standard on a pseudo-terminal")
  foreach(program corvane3 corvane3-sim)
    set(page ${generated}/${program}.1)
    # Run by name from the build's bin folder, so the usage line names the program, not a path.
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E env PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}
              QT_QPA_PLATFORM=offscreen
              ${CORVANE3_HELP2MAN} --no-info --section=1 --name=${summary_${program}}
              "--version-string=${program} ${PROJECT_VERSION}"
              --include=${packaging}/${program}.h2m --output=${page} ${program}
      COMMAND ${CORVANE3_GZIP} -9nf ${page}
      DEPENDS ${program} ${packaging}/${program}.h2m
      COMMENT "Man page ${program}(1)"
      VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
  add_custom_command(
    OUTPUT ${generated}/changelog.Debian.gz
    COMMAND ${CORVANE3_GZIP} -9nkf ${generated}/changelog.Debian
    DEPENDS ${generated}/changelog.Debian
    VERBATIM)
  add_custom_target(corvane3-docs ALL DEPENDS ${pages} ${generated}/changelog.Debian.gz)
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian names a native package's change log changelog.gz.
  install(FILES ${generated}/changelog.Debian.gz DESTINATION ${docdir} RENAME changelog.gz)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane3)
set(CPACK_PACKAGE_VENDOR "Corvane3 developers")
set(CPACK_PACKAGE_CONTACT "Corvane3 developers <${CORVANE3_MAINTAINER_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and control for a cesium-beam frequency standard")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Corvane3 watches over a cesium-beam frequency standard (an atomic clock)
connected by RS-232: it polls the instrument, shows its state, faults and
readings, records every status record to a telemetry file (.csd), plots
history and live data, sweeps the microwave synthesizer to show the cesium
spectrum (.css) and sends the instrument's configuration commands.
.
The package also holds corvane3-sim, a simulated instrument on a
pseudo-terminal, corvane3-logger@.service, a systemd unit that records
an instrument's telemetry at boot, and alerting rules for Prometheus servers
that scrape the logger's metrics, with a Grafana dashboard of them.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The server that scrapes the logger's metrics and loads the alerting rules.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS prometheus)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging}/prerm ${packaging}/postinst
    ${packaging}/postrm ${packaging}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
