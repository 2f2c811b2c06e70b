#!/usr/bin/env bash
# Builds the benchmarks in Release and runs the scale driver for 10,000 packages in three
# layouts (one folder, 10 and 400 folders); `--large` (or BENCH_LARGE=1) adds 100,000 (about
# 10 minutes per layout on a 2-core machine; pass --no-thumbnails). Sizes given as arguments
# replace the default ones; other arguments go to bench_scale (--no-thumbnails, --folders K
# for one layout). Workspaces go to $BENCH_SCALE_DIR (default: the system's temporary folder)
# and stay until the run ends: about 1.3 GB per layout of 10,000, 13 GB per layout of 100,000.
# Start a run some minutes after deleting many files (an earlier run's workspace): some file
# systems make new files slowly for a while after that (see bench/bench_scale.cpp).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$PM_SOURCE_DIR/scripts/setup.sh"
build_dir="${PM_BUILD_DIR:-$PM_SOURCE_DIR/build/release}"
pm_build "$build_dir" Release "-DPM_BUILD_TESTS=OFF -DPM_BUILD_BENCH=ON" bench
export PACKAGEMANAGER_DEFAULTS_DIR="${PACKAGEMANAGER_DEFAULTS_DIR:-$PM_SOURCE_DIR/data}"

large="${BENCH_LARGE:-}"
sizes=()
options=()
while [ $# -gt 0 ]; do
    case "$1" in
        --large) large=1 ;;
        --folders) options+=("$1" "${2:?--folders needs a count}"); shift ;;
        [0-9]*) sizes+=("$1") ;;
        *) options+=("$1") ;;
    esac
    shift
done
if [ ${#sizes[@]} -eq 0 ]; then
    sizes=(10000)
    if [ -n "$large" ]; then
        sizes+=(100000)
    fi
fi
exec nice "$build_dir/bench/bench_scale" "${options[@]}" "${sizes[@]}"
