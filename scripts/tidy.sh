#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over the library's sources and fails on any
# finding. Uses the compile_commands.json of a build folder: $PM_BUILD_DIR, else build/test
# (left by scripts/test.sh); a folder without one is configured first. Arguments narrow the
# run to files whose path matches one of them (e.g. `scripts/tidy.sh package/cPackage.cpp`).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$PM_SOURCE_DIR/scripts/setup.sh" clang-tidy
build_dir="${PM_BUILD_DIR:-$PM_SOURCE_DIR/build/test}"
if [ ! -f "$build_dir/compile_commands.json" ]; then
    cmake -S "$PM_SOURCE_DIR" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DPM_BUILD_TESTS=OFF -DPM_BUILD_BENCH=OFF
fi
# Sources that include their moc output need the generated files.
cmake --build "$build_dir" -j "$PM_JOBS" --target PackageManagerObjects_autogen PackageMetadataObjects_autogen

tidy="$(command -v clang-tidy || command -v clang-tidy-14)"
echo "tidy: $("$tidy" --version | grep -i version | head -n 1 | sed 's/^ *//')"

cd "$PM_SOURCE_DIR"
mapfile -t sources < <(find registry manifest package media programs platform metadata toolpath -name '*.cpp' | sort)
if [ $# -gt 0 ]; then
    selected=()
    for source in "${sources[@]}"; do
        for pattern in "$@"; do
            if [[ "$source" == *"$pattern"* ]]; then
                selected+=("$source")
                break
            fi
        done
    done
    sources=("${selected[@]}")
fi
if [ ${#sources[@]} -eq 0 ]; then
    echo "tidy: no source selected" >&2
    exit 1
fi

# One clang-tidy per file, two at a time; each file's findings are printed together.
log_dir="$(mktemp -d)"
trap 'rm -rf "$log_dir"' EXIT
printf '%s\n' "${sources[@]}" |
    xargs -P "$PM_JOBS" -I{} sh -c '
        log="$1/$(echo "$2" | tr / _).log"
        if "$3" -p "$4" --quiet "$5/$2" >"$log" 2>&1; then rm -f "$log"; fi
    ' tidy "$log_dir" {} "$tidy" "$build_dir" "$PM_SOURCE_DIR"

failed=0
for log in "$log_dir"/*.log; do
    [ -e "$log" ] || continue
    failed=$((failed + 1))
    cat "$log"
done
checked=${#sources[@]}
if [ "$failed" -gt 0 ]; then
    echo "tidy: $failed of $checked files have findings" >&2
    exit 1
fi
echo "tidy: $checked files checked, no findings"
