# The configuration file as a user meets it, with the program ended as at a terminal, with
# Ctrl-C, which closes its windows: the settings are written through a symbolic link to its
# target, keeping the user's own lines; a read-only file and one the user may not read are left
# exactly as they are, and the user is told that nothing was saved.

# Root reads whatever the permission bits say: the unreadable file is tried as 'nobody'.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid)
if(uid EQUAL 0)
  set(unprivileged setpriv --reuid=nobody --regid=nogroup --clear-groups)
  # 'nobody' cannot enter a clone in a root's home or in a private temporary folder: the program
  # and the files go to a folder everyone may enter, removed at the end.
  execute_process(COMMAND mktemp -d /tmp/corvane3-first-run.XXXXXX
                  OUTPUT_VARIABLE WORK OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND chmod 755 "${WORK}")
  file(COPY "${PROGRAM}" DESTINATION "${WORK}/bin")
  get_filename_component(name "${PROGRAM}" NAME)
  set(PROGRAM "${WORK}/bin/${name}")
  set(temporary_work "${WORK}")
endif()
file(REMOVE_RECURSE "${WORK}/some" "${WORK}/target")
file(MAKE_DIRECTORY "${WORK}/some" "${WORK}/target")
# A folder everyone may write in, so that only the program's own care keeps the file.
execute_process(COMMAND chmod 777 "${WORK}/some")
# The port must not be a real one on the test machine.
set(port "[COM]\nPortName=${WORK}/no-such-port\n")
set(mine "# kept by the user\n[Mine]\nKey=1\n")
function(run config)
  execute_process(COMMAND ${ARGN} timeout --preserve-status -s INT 4 "${PROGRAM}"
                          --config "${config}" RESULT_VARIABLE result ERROR_VARIABLE err)
  set(err "${err}" PARENT_SCOPE)
endfunction()
function(expect_text config wanted)
  execute_process(COMMAND chmod u+r "${config}")
  file(READ "${config}" text)
  string(FIND "${text}" "${wanted}" at)
  if(at LESS 0)
    message(FATAL_ERROR "'${wanted}' missing from ${config}:\n${text}")
  endif()
endfunction()

file(WRITE "${WORK}/target/real.ini" "${port}${mine}")
file(CREATE_LINK "../target/real.ini" "${WORK}/some/link.ini" SYMBOLIC)
run("${WORK}/some/link.ini")
if(NOT IS_SYMLINK "${WORK}/some/link.ini")
  message(FATAL_ERROR "the link to the configuration was replaced")
endif()
expect_text("${WORK}/target/real.ini" "[Mine]\nKey=1\n[Main]\nPollingEnabled=true\n")

set(names readonly unreadable)
set(modes 444 000)
foreach(name mode IN ZIP_LISTS names modes)
  set(config "${WORK}/some/${name}.ini")
  file(WRITE "${config}" "${port}${mine}")
  execute_process(COMMAND chmod ${mode} "${config}")
  if(name STREQUAL "unreadable")
    run("${config}" ${unprivileged})
  else()
    run("${config}")
  endif()
  expect_text("${config}" "${port}${mine}")
  file(SIZE "${config}" size)
  string(LENGTH "${port}${mine}" length)
  if(NOT size EQUAL length OR NOT err MATCHES "The settings were not saved")
    message(FATAL_ERROR "the ${name} configuration was changed, or nothing said: ${err}")
  endif()
endforeach()
if(temporary_work)
  file(REMOVE_RECURSE "${temporary_work}")
endif()
