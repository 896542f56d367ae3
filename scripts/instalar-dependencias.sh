#!/usr/bin/env bash
# Installs what building (and, with --pruebas, testing) Plugin Tornavo needs on Debian 12. Idempotent: only
# missing packages are installed.
set -euo pipefail

paquetes=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libqt6printsupport6 cups-client)
if [[ "${1:-}" == "--pruebas" ]]; then
    paquetes+=(cups cups-ipp-utils ghostscript chromium openssl)
fi

faltan=()
for paquete in "${paquetes[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$paquete" 2>/dev/null | grep -q "install ok installed"; then
        faltan+=("$paquete")
    fi
done
if ((${#faltan[@]} == 0)); then
    exit 0
fi

como_root=()
if [[ $(id -u) -ne 0 ]]; then
    como_root=(sudo)
fi
echo "Instalando: ${faltan[*]}"
"${como_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${como_root[@]}" apt-get install -y -qq --no-install-recommends "${faltan[@]}"
