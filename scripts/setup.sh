#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the project need, and
# only those that are missing. Runs as root, or through sudo. Arguments name further packages
# that a caller needs (the CI's checks: clang-tidy).
set -euo pipefail

required=(cmake ninja-build g++ clang qt6-base-dev ffmpeg libvips-tools fonts-dejavu-core pkg-config libcgif-dev libxxhash-dev "$@")
optional=(ccache clang-format)

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in "${required[@]}" "${optional[@]}"; do
    is_installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup: missing packages (${missing[*]}): run as root or install sudo" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
required_missing=()
for package in "${missing[@]}"; do
    case " ${optional[*]} " in
        *" $package "*) ;;
        *) required_missing+=("$package") ;;
    esac
done
if [ ${#required_missing[@]} -gt 0 ]; then
    "${as_root[@]}" apt-get install -y -q --no-install-recommends "${required_missing[@]}"
fi
# The optional tools only speed up or tidy the work: their absence is no failure.
for package in "${optional[@]}"; do
    is_installed "$package" || "${as_root[@]}" apt-get install -y -q --no-install-recommends "$package" ||
        echo "setup: optional package $package not installed" >&2
done
