#!/usr/bin/env bash
# Installs every Debian package Velmaris needs to build, run and test.
# Idempotent: packages already present are skipped, and apt is not touched at
# all when nothing is missing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkgconf ccache
    qt6-base-dev libqt6opengl6-dev libqt6sql6-sqlite qt6-websockets-dev qt6-translations-l10n
    libdcmtk-dev dcmtk libzip-dev libarchive-dev libssh2-1-dev libssl-dev
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
    libburn-dev libisofs-dev xorriso genisoimage libopenjp2-7-dev
    libsqlite3-dev sqlite3 zlib1g-dev libpng-dev
    orthanc xvfb xauth mesa-utils libgl1-mesa-dri fonts-dejavu-core
    python3-pydicom python3-numpy python3-pil imagemagick xdotool
)

missing=()
for pkg in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "Все пакеты уже установлены."
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Нужны права root или sudo для установки: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi

echo "Устанавливаются пакеты: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
# The orthanc package brings a system service of its own; tests never use it,
# they start private instances on free ports.
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
