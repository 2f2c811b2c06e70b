#!/usr/bin/env bash
# Sets the machine up, builds everything and runs the tests. Exits non-zero when a build
# step or a test fails. With CI=true warnings are errors and the build folder starts empty.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$PM_SOURCE_DIR/scripts/setup.sh"
build_dir="${PM_BUILD_DIR:-$PM_SOURCE_DIR/build/test}"
extra="-DPM_BUILD_TESTS=ON"
if [ "${CI:-}" = "true" ]; then
    extra="$extra -DPM_WARNINGS_AS_ERRORS=ON"
    rm -rf "$build_dir"
fi
pm_build "$build_dir" Debug "$extra"
cd "$build_dir"
ctest --output-on-failure -j "$PM_JOBS" --timeout 900
