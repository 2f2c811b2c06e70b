#!/usr/bin/env bash
# Builds and runs the tests under the sanitizers, with the presets of CMakePresets.json:
#   asan  every unit test under AddressSanitizer + UndefinedBehaviorSanitizer, leaks checked
#         (folder build/asan)
#   tsan  the tests labelled "concurrency" under ThreadSanitizer; only their targets are
#         built (folder build/tsan; suppressions in tests/tsan.supp)
# With no argument both run, asan first. Exits non-zero when a build step or a test fails.
# With CI=true each build folder starts empty.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Tests that cannot run under ASan, as a ctest regular expression (empty: none).
# Keep a reason beside each entry.
asan_excluded=""

bash "$PM_SOURCE_DIR/scripts/setup.sh"
cd "$PM_SOURCE_DIR"

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

configure() {
    local preset="$1"
    if [ "${CI:-}" = "true" ]; then
        rm -rf "build/$preset"
    fi
    cmake --preset "$preset" "${launcher[@]}"
}

run_asan() {
    configure asan
    cmake --build --preset asan
    local exclude=()
    if [ -n "$asan_excluded" ]; then
        exclude=(-E "$asan_excluded")
    fi
    ctest --preset asan "${exclude[@]}"
}

run_tsan() {
    configure tsan
    # The test names are <subsystem>.<target>: build only the targets that will run.
    local targets=()
    mapfile -t targets < <(ctest --test-dir build/tsan -N -L concurrency |
        sed -n 's/^ *Test *#[0-9]*: [^.]*\.\(.*\)$/\1/p')
    if [ ${#targets[@]} -eq 0 ]; then
        echo "sanitize: no test carries the label \"concurrency\"" >&2
        return 1
    fi
    echo "sanitize: ThreadSanitizer targets: ${targets[*]}"
    local build_targets=()
    for target in "${targets[@]}"; do
        build_targets+=(--target "$target")
    done
    cmake --build --preset tsan "${build_targets[@]}"
    ctest --preset tsan
}

stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then
    stages=(asan tsan)
fi
for stage in "${stages[@]}"; do
    case "$stage" in
        asan) run_asan ;;
        tsan) run_tsan ;;
        *)
            echo "sanitize: unknown stage '$stage' (asan, tsan)" >&2
            exit 2
            ;;
    esac
done
