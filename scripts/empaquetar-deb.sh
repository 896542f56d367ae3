#!/usr/bin/env bash
# Builds the Debian package plugin-tornavo_<version>_amd64.deb from a Release build (build/paquete), with
# Debian's hardening flags and dependencies computed by dpkg-shlibdeps, and prints its path. tests/paquete/deb.sh
# checks it.
#
#   scripts/empaquetar-deb.sh
set -euo pipefail
source "$(dirname "$0")/comun.sh"

"$raiz/scripts/instalar-dependencias.sh" dpkg-dev file
construccion="$raiz/build/paquete"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Named on every configure: CMake reads CXXFLAGS and LDFLAGS only into a fresh cache.
configurar "$construccion" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
construir "$construccion"
rm -f "$construccion"/plugin-tornavo_*.deb
(cd "$construccion" && nice cpack -G DEB >/dev/null)
deb=$(ls "$construccion"/plugin-tornavo_*_amd64.deb)
echo "Paquete: $deb ($(du -k "$deb" | cut -f1) KiB)"
