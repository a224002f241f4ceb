#!/usr/bin/env bash
# Installs what Murmel needs on Debian 12 or 13 and unpacks whisper.cpp into the build tree.
#   scripts/setup.sh run         [BUILD_DIR]   packages to build and run the application
#   scripts/setup.sh test        [BUILD_DIR]   the same plus the test harness
#   scripts/setup.sh screenshots [BUILD_DIR]   the test harness plus what `make screenshots` takes pictures with
# Idempotent and silent when everything is already in place.
set -euo pipefail

mode=${1:-run}
build_dir=${2:-build}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build_packages=(
    build-essential cmake pkgconf ninja-build
    qt6-base-dev qt6-declarative-dev qt6-multimedia-dev qt6-svg-dev qt6-shadertools-dev
    qcoro-qt6-dev qtkeychain-qt6-dev libssl-dev
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libespeak-ng-dev
    libxcb1-dev libxcb-xtest0-dev libxcb-xinput-dev libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev
    libatspi2.0-dev libpulse-dev libwayland-dev plasma-wayland-protocols
    libvulkan-dev glslc spirv-headers
)
runtime_packages=(
    qml6-module-qtquick qml6-module-qtqml-workerscript qml6-module-qtquick-window
    qml6-module-qtquick-controls qml6-module-qtquick-templates qml6-module-qtquick-layouts
    qml6-module-qtquick-shapes
    qml6-module-qt5compat-graphicaleffects libsecret-1-0 qt6-wayland
    mesa-vulkan-drivers
)
test_packages=(
    xvfb xauth openbox xdotool xclip x11-utils dbus-daemon dbus-x11
    pulseaudio pulseaudio-utils gnome-keyring libsecret-tools at-spi2-core
    espeak-ng sox ffmpeg desktop-file-utils appstream libglib2.0-bin python3-dbusmock xterm locales
    sway xwayland kwin-wayland mutter wl-clipboard gnome-settings-daemon-common
    xdg-desktop-portal xdg-desktop-portal-kde qemu-user
)
# ImageMagick's import takes the pictures; their font should not depend on whichever font
# another package happened to pull in.
screenshot_packages=(imagemagick fonts-dejavu-core)

packages=("${build_packages[@]}" "${runtime_packages[@]}")
case $mode in
    run) ;;
    test) packages+=("${test_packages[@]}") ;;
    screenshots) packages+=("${test_packages[@]}" "${screenshot_packages[@]}") ;;
    *) echo "usage: $0 run|test|screenshots [BUILD_DIR]" >&2; exit 2 ;;
esac
# npm only fetches the whisper.cpp source; any npm on the PATH will do.
command -v npm >/dev/null || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]})); then
    sudo=()
    ((EUID == 0)) || sudo=(sudo)
    echo "Installing ${#missing[@]} Debian packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# whisper.cpp: Debian 12 has no package. A system installation (with its CMake
# package) wins; otherwise the upstream source vendored by an npm package is used,
# accepted only when the tarball matches the checksum recorded here.
if compgen -G "/usr/lib/*/cmake/whisper/whisper-config.cmake" >/dev/null ||
   compgen -G "/usr/local/lib/cmake/whisper/whisper-config.cmake" >/dev/null; then
    exit 0
fi
read -r expected tarball < "$root/cmake/whisper.cpp.sha256"
deps="$build_dir/_deps"
stamp="$deps/whisper.cpp.stamp"
if [[ -f $stamp && $(cat "$stamp") == "$expected" && -f $deps/whisper.cpp/CMakeLists.txt ]]; then
    exit 0
fi
package=${tarball%.tgz}           # nodejs-whisper-0.3.1
package_ref="${package%-*}@${package##*-}" # nodejs-whisper@0.3.1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Fetching whisper.cpp ($package_ref) with npm"
network_advice="Check that this machine reaches the npm registry ('npm config get registry'), that
a proxy it must go through is set (https_proxy, or 'npm config set proxy'), and that npm
trusts the certificate authority of a TLS proxy (NODE_EXTRA_CA_CERTS=/path/to/ca.crt, or
'npm config set cafile'). Then run the same command again."
if ! (cd "$work" && npm pack --loglevel=error "$package_ref" >/dev/null 2>"$work/npm.log"); then
    echo "error: npm could not fetch $package_ref, which carries the whisper.cpp source. npm said:" >&2
    # npm's reason without its stack trace.
    grep -v -E '^npm (error|ERR!) +(at |[a-z]+: |[{}])' "$work/npm.log" | head -n 15 | sed 's/^/    /' >&2 || true
    echo "$network_advice" >&2
    exit 1
fi
if [[ ! -f $work/$tarball ]]; then
    echo "error: npm reported success but wrote no $tarball" >&2
    exit 1
fi
actual=$(sha256sum "$work/$tarball" | cut -d' ' -f1)
if [[ $actual != "$expected" ]]; then
    echo "error: $tarball has SHA-256 $actual, expected $expected; refusing to use it." >&2
    echo "The registry, a mirror or a proxy served other bytes than the published package." >&2
    echo "$network_advice" >&2
    exit 1
fi
tar -xzf "$work/$tarball" -C "$work" package/cpp/whisper.cpp
mkdir -p "$deps"
rm -rf "$deps/whisper.cpp"
mv "$work/package/cpp/whisper.cpp" "$deps/whisper.cpp"
echo "$expected" > "$stamp"
