# A first run with --config on a folder that does not exist yet writes a complete configuration
# file with its three sections in order, and keeps the user's own lines on the next run. The
# program is ended as a user at a terminal would end it, with Ctrl-C, which closes its window.
file(REMOVE_RECURSE "${WORK}")
set(config "${WORK}/some/Corvane3.ini")
# The port must not be a real one on the test machine.
file(MAKE_DIRECTORY "${WORK}/some")
file(WRITE "${config}" "[COM]\nPortName=${WORK}/no-such-port\n")
execute_process(COMMAND timeout --preserve-status -s INT 4 "${PROGRAM}" --config "${config}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "corvane3 exited with ${result}")
endif()
file(READ "${config}" text)
string(FIND "${text}" "[Main]" main)
string(FIND "${text}" "[COM]" com)
string(FIND "${text}" "[Plot]" plot)
if(main LESS 0 OR com LESS 0 OR plot LESS 0)
  message(FATAL_ERROR "sections missing:\n${text}")
endif()
foreach(line "PollingInterval=10" "BaudRate=9600" "Parity=Odd" "StopBits=2"
             "DataBits=7" "ClockStuff=15:2:3:5:1" "User2Stuff=15:2:3:5:1")
  string(FIND "${text}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "'${line}' missing:\n${text}")
  endif()
endforeach()

string(REPLACE "PollingInterval=10" "PollingInterval=1" edited "${text}")
file(WRITE "${config}" "${edited}; kept by the user\n[Mine]\nKey=1\n")
execute_process(COMMAND timeout --preserve-status -s INT 4 "${PROGRAM}" --config "${config}"
                RESULT_VARIABLE result)
file(READ "${config}" text)
foreach(line "PollingInterval=2" "; kept by the user" "[Mine]" "Key=1")
  string(FIND "${text}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "'${line}' missing after the second run:\n${text}")
  endif()
endforeach()
