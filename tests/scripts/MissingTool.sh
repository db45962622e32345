#!/usr/bin/env bash
# Stands in for a test whose program ($1, installed by package $2) is missing: the test is skipped
# with the reason (status 77), except under CI (CI=true), where every program the tests need must
# be installed and its absence fails.
echo "$1 is missing: scripts/setup-deps installs $2"
[[ "${CI:-}" == true ]] && exit 1
exit 77
