#!/usr/bin/env bash
# Sets the machine up, builds pkgtool and runs its demo. Arguments go to `pkgtool demo`
# (a folder for the workspace; a temporary one by default).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$PM_SOURCE_DIR/scripts/setup.sh"
build_dir="${PM_BUILD_DIR:-$PM_SOURCE_DIR/build/demo}"
pm_build "$build_dir" RelWithDebInfo "-DPM_BUILD_TESTS=OFF -DPM_BUILD_BENCH=OFF" pkgtool
export PACKAGEMANAGER_DEFAULTS_DIR="${PACKAGEMANAGER_DEFAULTS_DIR:-$PM_SOURCE_DIR/data}"
exec "$build_dir/tools/pkgtool" demo "$@"
