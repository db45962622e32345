#!/usr/bin/env bash
# scripts/check-layers passes on the project as it is, and fails, naming the file, the line and
# the rule, when one include is pointed against the layers.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check="$root/scripts/check-layers"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

output=$("$check" --root "$root" 2>&1)
status=$?
[[ $status -eq 0 && -z "$output" ]] || fail "the project itself: status $status, output: $output"

# expect_violation FILE LINE_TO_APPEND EXPECTED_MESSAGE: appends the line to a copy of the
# project's FILE and expects the check to fail with exactly that one message.
expect_violation() {
  local file=$1 line=$2 message=$3 copy="$work/copy"
  rm -rf "$copy" && mkdir -p "$copy"
  cp -r "$root/src" "$root/tests" "$root/fuzz" "$root/bench" "$copy/"
  mkdir -p "$(dirname "$copy/$file")"
  echo "$line" >>"$copy/$file"
  local number
  number=$(wc -l <"$copy/$file")
  output=$("$check" --root "$copy" 2>&1)
  status=$?
  [[ $status -eq 1 ]] || fail "$file with '$line': status $status, expected 1"
  [[ "$output" == "$file:$number: $message" ]] ||
    fail "$file with '$line': got '$output', expected '$file:$number: $message'"
}

# A test pointed up a layer, and into the program folder.
expect_violation tests/core/link/CommandFrameTest.cpp '#include "gui/plot/PlotDlg.h"' \
  'tests/core may not include gui/plot/PlotDlg.h'
expect_violation tests/gui/plot/TracePlotTest.cpp '#include "app/FileCommands.h"' \
  'tests/gui may not include app/FileCommands.h'
# Inside the core, a lower folder including a higher one; the core or the simulator using Qt.
expect_violation src/core/base/CLocale.h '#include "core/link/CommandFrame.h"' \
  'core/base may not include core/link/CommandFrame.h'
expect_violation src/core/poll/QuerySteps.h '#include "core/telemetry/TelemetryFormat.h"' \
  'core/poll may not include core/telemetry/TelemetryFormat.h'
expect_violation src/core/link/UnitState.h '#include <QString>' \
  'core/link may not include Qt (#include <QString>)'
expect_violation src/sim/Faults.h '#include <QtCore/QObject>' \
  'sim may not include Qt (#include <QtCore/QObject>)'
# Shared widgets never reach into a window; the core and the simulator never into the GUI.
expect_violation src/gui/common/WholeTitle.h '#include "gui/mainwin/MainStatusDlg.h"' \
  'gui/common may not include gui/mainwin/MainStatusDlg.h'
expect_violation src/sim/Faults.cpp '#include "gui/common/AppIcon.h"' \
  'sim may not include gui/common/AppIcon.h'
expect_violation src/gui/plot/PlotDlg.h '#include "sim/Faults.h"' \
  'gui/plot may not include sim/Faults.h'
expect_violation src/core/plot/PlotData.h '#include "../link/UnitState.h"' \
  'core/plot may not include by a relative path ../link/UnitState.h'
# A new folder that is in no layer is refused until it is given a place.
expect_violation src/extra/Thing.cpp '#include "core/base/Text.h"' \
  'extra is in no layer; it may not include core/base/Text.h'

[[ $failures -eq 0 ]] && echo "check-layers: all cases passed"
exit $((failures > 0))
