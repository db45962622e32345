# The build installed into a staging folder (DESTDIR) as a package installs it: the files in
# place, and the desktop entry, file types, man pages and service unit accepted by the tools
# that read them on a user's system. -DBUILD -DPREFIX (its install prefix) -DSOURCE -DWORK
file(REMOVE_RECURSE "${WORK}")
set(usr "${WORK}/stage${PREFIX}")
set(xdg ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${WORK}/home XDG_DATA_DIRS=${usr}/share:/usr/share)

# Runs a command; the test fails when it fails or says anything on standard error.
function(check what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${what}: status ${result}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

check("install" ${CMAKE_COMMAND} -E env DESTDIR=${WORK}/stage ${CMAKE_COMMAND} --install ${BUILD})
foreach(file bin/corvane3-sim share/icons/hicolor/scalable/apps/corvane3.svg
        share/icons/hicolor/16x16/apps/corvane3.png share/icons/hicolor/256x256/apps/corvane3.png
        share/doc/corvane3/README.md share/doc/corvane3/copyright share/doc/corvane3/changelog.gz
        share/corvane3/prometheus/corvane3.rules.yml share/corvane3/prometheus/alertmanager.yml
        share/corvane3/prometheus/prometheus.yml
        share/corvane3/grafana/corvane3.json)
  if(NOT EXISTS "${usr}/${file}")
    message(FATAL_ERROR "not installed: ${PREFIX}/${file}")
  endif()
endforeach()
check("the dashboard as shipped" ${CMAKE_COMMAND} -E compare_files
      "${SOURCE}/packaging/grafana/corvane3.json" "${usr}/share/corvane3/grafana/corvane3.json")
check("the help page as shown" ${CMAKE_COMMAND} -E compare_files "${SOURCE}/docs/help.html"
      "${usr}/share/doc/corvane3/help.html")
check("the installed program" "${usr}/bin/corvane3" --version)
check("desktop-file-validate" desktop-file-validate "${usr}/share/applications/corvane3.desktop")
foreach(page corvane3 corvane3-sim)
  check("man page ${page}" man --warnings -l "${usr}/share/man/man1/${page}.1.gz")
  if(NOT out MATCHES "SYNOPSIS.*--version.*EXIT STATUS.*SEE ALSO")
    message(FATAL_ERROR "man page ${page} lacks a section:\n${out}")
  endif()
endforeach()

# Files are told apart as a file manager tells them, the program handling its own: a spectrum
# by its first line, although style sheets share its extension.
check("update-mime-database" ${xdg} update-mime-database "${usr}/share/mime")
check("update-desktop-database" update-desktop-database "${usr}/share/applications")
file(READ "${usr}/share/applications/mimeinfo.cache" handlers)
set(names unit.csd spectrum.css style.css)
set(texts "MJD, ID, UnitType, Factory\r\n" "Detuning, Signal\r\n-5000,1234.5\r\n" "p { }\n")
set(types application/x-corvane3-telemetry application/x-corvane3-spectrum text/css)
foreach(name text type IN ZIP_LISTS names texts types)
  file(WRITE "${WORK}/files/${name}" "${text}")
  check("gio info ${name}" ${xdg} gio info -a standard::content-type "${WORK}/files/${name}")
  if(NOT out MATCHES "content-type: ${type}\n")
    message(FATAL_ERROR "${name} is not ${type}: ${out}")
  endif()
  if(NOT type STREQUAL "text/css" AND NOT handlers MATCHES "${type}=corvane3.desktop;")
    message(FATAL_ERROR "corvane3.desktop does not open ${type}:\n${handlers}")
  endif()
endforeach()

# The service unit, starting the staged program (the checker wants the program to exist).
find_program(analyze systemd-analyze)
if(analyze)
  file(READ "${usr}/lib/systemd/system/corvane3-logger@.service" unit)
  string(REPLACE "ExecStart=${PREFIX}/bin/corvane3 " "ExecStart=${usr}/bin/corvane3 " staged
                 "${unit}")
  if(staged STREQUAL unit)
    message(FATAL_ERROR "the unit does not start ${PREFIX}/bin/corvane3:\n${unit}")
  endif()
  file(WRITE "${WORK}/units/corvane3-logger@.service" "${staged}")
  check("systemd-analyze verify" ${analyze} verify --man=no
        "${WORK}/units/corvane3-logger@.service")
  # An instance for a stable port name, made as the README makes it: the path under /dev.
  check("systemd-escape" systemd-escape --template=corvane3-logger@.service
        serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0)
  string(STRIP "${out}" instance)
  check("systemd-analyze verify ${instance}" ${analyze} verify --man=no
        "${WORK}/units/${instance}")
else()
  message(WARNING "systemd-analyze is missing: the service unit is not checked")
endif()

# The service's user and group as systemd-sysusers makes them on a system that has neither; the
# unit runs as that user in that group, and keeps its records out of /var/lib/private, which
# only root can enter.
find_program(sysusers systemd-sysusers)
if(sysusers)
  file(READ "${usr}/lib/sysusers.d/corvane3.conf" snippet)
  file(WRITE "${WORK}/sysroot/usr/lib/sysusers.d/corvane3.conf" "${snippet}")
  file(WRITE "${WORK}/sysroot/etc/passwd" "root:x:0:0:root:/root:/bin/sh\n")
  file(WRITE "${WORK}/sysroot/etc/group" "root:x:0:\ndialout:x:20:\n")
  # It says what it creates on standard error.
  execute_process(COMMAND ${sysusers} --root=${WORK}/sysroot corvane3.conf
                  RESULT_VARIABLE result ERROR_VARIABLE said)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "systemd-sysusers: status ${result}\n${said}")
  endif()
  file(READ "${WORK}/sysroot/etc/passwd" passwd)
  file(READ "${WORK}/sysroot/etc/group" groups)
  file(READ "${usr}/lib/systemd/system/corvane3-logger@.service" unit)
  string(REGEX MATCH "\nUser=([^\n]*)" ignored "${unit}")
  set(user "${CMAKE_MATCH_1}")
  string(REGEX MATCH "\nGroup=([^\n]*)" ignored "${unit}")
  set(group "${CMAKE_MATCH_1}")
  string(REGEX MATCH "\n${group}:x:([0-9]+):" ignored "${groups}")
  set(gid "${CMAKE_MATCH_1}")
  if(user STREQUAL "" OR gid STREQUAL "" OR NOT passwd MATCHES "\n${user}:x:[0-9]+:${gid}:")
    message(FATAL_ERROR "the unit's user '${user}' in group '${group}' is not the one "
                        "sysusers.d/corvane3.conf makes:\n${passwd}${groups}${unit}")
  endif()
  if(unit MATCHES "\nDynamicUser=yes")
    message(FATAL_ERROR "a dynamic user's records go to /var/lib/private:\n${unit}")
  endif()
endif()

# The alerting rules as a Prometheus server loads them.
find_program(promtool promtool)
if(promtool)
  check("promtool check rules" ${promtool} check rules
        "${usr}/share/corvane3/prometheus/corvane3.rules.yml")
endif()
