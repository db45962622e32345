# The shipped prometheus.yml as README's step 3 uses it: Debian's own configuration, every line
# of it in its order, with the loggers' job and rules added, accepted by promtool check config.
# -DSOURCE -DWORK -DPROMTOOL -DDEBIAN (Debian's /etc/prometheus/prometheus.yml)
file(REMOVE_RECURSE "${WORK}")
set(example "${SOURCE}/packaging/prometheus/prometheus.yml")
# Debian's lines, each found after the one before it (awk: lines hold brackets and semicolons
# that a CMake list would split).
execute_process(
  COMMAND awk "NR == FNR { ours[++count] = $0; next }
               { while (at < count && ours[++at] != $0) {} if (ours[at] != $0) { print; exit 1 } }"
          "${example}" "${DEBIAN}"
  RESULT_VARIABLE result OUTPUT_VARIABLE missing)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Debian's line is missing or out of order in ${example}:\n${missing}")
endif()
# Checked as installed: the rules where the package puts them.
file(READ "${example}" text)
string(REPLACE "/usr/share/corvane3/prometheus/" "${SOURCE}/packaging/prometheus/" text "${text}")
file(WRITE "${WORK}/prometheus.yml" "${text}")
execute_process(COMMAND "${PROMTOOL}" check config "${WORK}/prometheus.yml"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT out MATCHES "SUCCESS: 1 rule files found")
  message(FATAL_ERROR "promtool check config: status ${result}\n${out}${err}")
endif()
