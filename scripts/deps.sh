#!/usr/bin/env bash
# Installs the Debian packages the tool and its tests need; skips what is already installed. The
# fonts Ghostscript and ImageMagick pull in on a desktop (urw-base35, droid-fallback) are there so
# the GUI tests run under them too (tests/fonts/desktop.conf).
set -euo pipefail
# poppler-utils: pdftotext, with which the tests read the checkout report's PDF.
# fonts-ipafont-gothic: the full-width "！" that ends the windows' messages (the package depends on it).
packages=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev socat mbpoll python3-pymodbus python3-serial-asyncio xvfb
  desktop-file-utils help2man poppler-utils fonts-dejavu-core fonts-dejavu-extra fonts-urw-base35 fonts-droid-fallback fonts-ipafont-gothic
  clang libclang-rt-14-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "Installing: ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
