# Shared by ./run and ./test: installs the Debian packages that are missing and builds.
# Usage: . scripts/prepare.sh; prepare_packages PACKAGE...; prepare_build [CMAKE OPTION...]
# TESSALY_TARGETS names the targets to build (default: all of them); TESSALY_GENERATOR the CMake
# generator of a new build folder (default Ninja; empty for CMake's default, Makefiles).

TESSALY_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TESSALY_BUILD=${TESSALY_BUILD:-$TESSALY_TOP/build}
TESSALY_GENERATOR=${TESSALY_GENERATOR-Ninja}

TESSALY_PACKAGES="cmake ninja-build make g++ pkg-config qt6-base-dev qt6-tools-dev qt6-l10n-tools qt6-image-formats-plugins
    libssl-dev libqrencode-dev libexif-dev zlib1g-dev xvfb xauth openssl curl"

prepare_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' && continue
        # A tool of that name from another package (npm comes with some nodejs builds) will do.
        command -v "$p" >/dev/null 2>&1 && continue
        missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q || return 1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q -o DPkg::Lock::Timeout=300 "${missing[@]}"
}

prepare_build() {
    # An existing build folder keeps the generator it was made with.
    local generator=()
    [ -n "$TESSALY_GENERATOR" ] && [ ! -f "$TESSALY_BUILD/CMakeCache.txt" ] && generator=(-G "$TESSALY_GENERATOR")
    cmake -S "$TESSALY_TOP" -B "$TESSALY_BUILD" "${generator[@]}" "$@" >/dev/null || return 1
    # shellcheck disable=SC2086
    cmake --build "$TESSALY_BUILD" -j "$(nproc)" ${TESSALY_TARGETS:+--target $TESSALY_TARGETS}
}

# Clients and tools the tests drive; zbarimg reads the QR codes; unzip and python3 (its zipfile) read
# the folders downloaded as archives; dpkg-dev, appstream and desktop-file-utils make and check
# the package and its desktop files, xdotool and x11-utils drive the installed window program.
TESSALY_TEST_PACKAGES="chromium nodejs npm rclone cadaver litmus dpkg-dev appstream desktop-file-utils
    xdotool x11-utils zbar-tools unzip python3"

# The npm packages of the browser tests (tests/browser/package-lock.json).
prepare_browser_tests() {
    local dir=$TESSALY_TOP/tests/browser
    [ -d "$dir/node_modules" ] && return 0
    command -v npm >/dev/null 2>&1 || return 0
    (cd "$dir" && npm ci --no-audit --no-fund)
}
