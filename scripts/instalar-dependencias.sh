#!/usr/bin/env bash
# Installs what building (and, with --pruebas, testing) Plugin Tornavo needs on Debian 12, plus any packages named
# after the options (the benchmarks and the fuzzers name theirs). Idempotent: only missing packages are installed.
#
#   scripts/instalar-dependencias.sh [--pruebas] [paquete ...]
set -euo pipefail

paquetes=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libqt6printsupport6 libcups2-dev cups-client)
for argumento in "$@"; do
    if [[ "$argumento" == "--pruebas" ]]; then
        paquetes+=(cups cups-ipp-utils ghostscript chromium openssl xvfb trayer xdotool x11-utils)
    else
        paquetes+=("$argumento")
    fi
done

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
