#!/usr/bin/env bash
# Installs what Brem builds, runs and tests with (Debian; run as root). Quiet when all is there.
# With --windows-qt: what the cross-build of Qt for Windows needs instead.
set -euo pipefail
pkgs=(cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libx11-dev libgtest-dev
      clang-14 libclang-rt-14-dev clang-format xvfb x11-utils imagemagick fonts-wqy-microhei xauth
      libxkbcommon-x11-0 dpkg-dev file
      qt6-base-private-dev) # the log view's tests switch accessibility on as a screen reader does
# brem-cli's report: JSON Lines, and the image's SHA-256.
pkgs+=(nlohmann-json3-dev nettle-dev)
# Windows: the cross-build of brem-cli.exe and its tests, run under Wine.
pkgs+=(g++-mingw-w64-x86-64-posix googletest wine64 wine)
# Wine's own fonts (Tahoma): a prefix without them draws no text in line edits.
pkgs+=(fonts-wine)
# The Debian package's check: Debian's own checker, the AppStream and desktop entry validators.
pkgs+=(lintian appstream desktop-file-utils man-db)
# Windows: brem.exe's zip (scripts/package-windows).
pkgs+=(zip unzip)
for arg in "$@"; do
    case $arg in
    --windows-qt)
        pkgs=(cmake ninja-build dpkg-dev qt6-base-dev qt6-base-dev-tools g++-mingw-w64-x86-64-posix
              gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64) ;;
    *) echo "deps.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}" >&2
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
