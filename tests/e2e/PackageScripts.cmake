# The package's maintainer scripts against a recording systemctl, under DPKG_ROOT as dpkg runs
# them for another root: an upgrade reloads systemd and restarts running loggers, a first
# install restarts nothing, a removal stops and disables every instance. -DSOURCE -DWORK
file(REMOVE_RECURSE "${WORK}")
set(root "${WORK}/root")
file(MAKE_DIRECTORY "${root}/run/systemd/system" "${WORK}/bin")
file(WRITE "${WORK}/bin/systemctl" "#!/bin/sh\necho \"systemctl $*\" >> '${WORK}/calls'\n")
file(WRITE "${WORK}/bin/systemd-sysusers" "#!/bin/sh\necho \"systemd-sysusers $*\" >> '${WORK}/calls'\n")
file(CHMOD "${WORK}/bin/systemctl" "${WORK}/bin/systemd-sysusers" PERMISSIONS OWNER_READ OWNER_EXECUTE)
set(wants "${root}/etc/systemd/system/multi-user.target.wants")
file(MAKE_DIRECTORY "${wants}")
foreach(instance ttyUSB0 serial-by\\x2did-usb\\x2dA1)
  file(CREATE_LINK /lib/systemd/system/corvane3-logger@.service
       "${wants}/corvane3-logger@${instance}.service" SYMBOLIC)
endforeach()
file(CREATE_LINK /lib/systemd/system/ssh.service "${wants}/ssh.service" SYMBOLIC)

# Runs a maintainer script with its arguments; returns what it made systemctl do.
function(run script expected)
  file(REMOVE "${WORK}/calls")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "PATH=${WORK}/bin:$ENV{PATH}"
                          "DPKG_ROOT=${root}" sh "${SOURCE}/packaging/${script}" ${ARGN}
                  RESULT_VARIABLE result ERROR_VARIABLE err)
  set(calls "")
  if(EXISTS "${WORK}/calls")
    file(READ "${WORK}/calls" calls)
  endif()
  if(NOT result EQUAL 0 OR NOT err STREQUAL "" OR NOT calls STREQUAL expected)
    message(FATAL_ERROR "${script} ${ARGN}: status ${result} ${err}\nsystemctl calls:\n${calls}"
                        "expected:\n${expected}")
  endif()
endfunction()

set(sysusers "systemd-sysusers --root=${root} corvane3.conf\n")
set(reload "systemctl --system daemon-reload\n")
run(postinst "${sysusers}${reload}" configure "")
run(postinst "${sysusers}${reload}systemctl try-restart corvane3-logger@*.service\n"
    configure 1.0.0)
set(disable "systemctl --root=${root} --no-reload disable")
run(prerm "systemctl stop corvane3-logger@*.service\n${disable} corvane3-logger@serial-by\\x2did-usb\\x2dA1.service\n${disable} corvane3-logger@ttyUSB0.service\n"
    remove)
run(prerm "" upgrade 1.0.1)
run(postrm "${reload}" remove)
