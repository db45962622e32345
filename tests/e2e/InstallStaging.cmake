# The build installed into a staging folder (DESTDIR) as a package would install it: every file
# in its place, the desktop entry, file types, man pages and service unit accepted by the tools
# that read them on a user's system, and the installed programs run.
# -DBUILD=build folder -DPREFIX=its install prefix -DSOURCE=source folder -DWORK=scratch folder
file(REMOVE_RECURSE "${WORK}")
set(stage "${WORK}/stage")
set(usr "${stage}${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${stage} ${CMAKE_COMMAND} --install ${BUILD}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install into ${stage} failed")
endif()

# Runs a command; fails the test when it fails or says anything on standard error.
function(check what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${what}: status ${result}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(expected bin/corvane3 bin/corvane3-sim share/applications/corvane3.desktop
    share/mime/packages/corvane3.xml share/icons/hicolor/scalable/apps/corvane3.svg
    share/man/man1/corvane3.1.gz share/man/man1/corvane3-sim.1.gz
    lib/systemd/system/corvane3-logger@.service share/doc/corvane3/README.md
    share/doc/corvane3/copyright share/doc/corvane3/changelog.gz)
foreach(size 16 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/corvane3.png)
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${usr}/${file}")
    message(FATAL_ERROR "not installed: ${PREFIX}/${file}")
  endif()
endforeach()
# The help page the program shows is installed as it is.
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${SOURCE}/docs/help.html"
                        "${usr}/share/doc/corvane3/help.html" RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "the installed help page is not docs/help.html")
endif()

check("desktop-file-validate" desktop-file-validate "${usr}/share/applications/corvane3.desktop")
foreach(page corvane3 corvane3-sim)
  check("man page ${page}" man --warnings -l "${usr}/share/man/man1/${page}.1.gz")
  if(NOT out MATCHES "SYNOPSIS.*--version.*EXIT STATUS.*SEE ALSO")
    message(FATAL_ERROR "man page ${page} lacks a section:\n${out}")
  endif()
endforeach()
check("the installed program" "${usr}/bin/corvane3" --version)
check("the installed simulator" "${usr}/bin/corvane3-sim" --version)

# Files are told by the staged type database as a file manager tells them: a spectrum by its
# first line although style sheets share its extension.
set(xdg ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${WORK}/home XDG_DATA_DIRS=${usr}/share:/usr/share)
check("update-mime-database" ${xdg} update-mime-database "${usr}/share/mime")
check("update-desktop-database" update-desktop-database "${usr}/share/applications")
file(MAKE_DIRECTORY "${WORK}/files" "${WORK}/home")
set(names unit.csd spectrum.css style.css)
set(texts "MJD, ID, UnitType, Factory\r\n" "Detuning, Signal\r\n-5000,1234.5\r\n"
    "body { color: black }\n")
set(types application/x-corvane3-telemetry application/x-corvane3-spectrum text/css)
foreach(name text type IN ZIP_LISTS names texts types)
  file(WRITE "${WORK}/files/${name}" "${text}")
  check("gio info ${name}" ${xdg} gio info -a standard::content-type "${WORK}/files/${name}")
  if(NOT out MATCHES "content-type: ${type}\n")
    message(FATAL_ERROR "${name} is not ${type}: ${out}")
  endif()
endforeach()
# The program is the handler of both of its types.
file(READ "${usr}/share/applications/mimeinfo.cache" handlers)
foreach(type IN LISTS types)
  if(NOT type STREQUAL "text/css" AND NOT handlers MATCHES "${type}=corvane3.desktop;")
    message(FATAL_ERROR "corvane3.desktop does not handle ${type}:\n${handlers}")
  endif()
endforeach()

# The service unit, pointed at the staged program (the checker wants the program to exist).
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
else()
  message(STATUS "systemd-analyze is not on this machine: the unit is not verified")
endif()
