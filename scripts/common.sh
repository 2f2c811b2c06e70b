# Shared by demo.sh and test.sh: configure and build in one folder with the machine's two cores.
PM_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PM_JOBS="${PM_JOBS:-2}"

# pm_build BUILD_DIR BUILD_TYPE "CMAKE_ARGS..." [TARGET...]
pm_build() {
    local build_dir="$1" build_type="$2" extra_args="$3"
    shift 3
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    # shellcheck disable=SC2086
    cmake -S "$PM_SOURCE_DIR" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "${launcher[@]}" $extra_args
    local targets=()
    for target in "$@"; do
        targets+=(--target "$target")
    done
    cmake --build "$build_dir" -j "$PM_JOBS" "${targets[@]}"
}
