#!/usr/bin/env bash
# Installs what building (and, with --pruebas, testing) Plugin Tornavo needs on Debian 12, plus any packages named
# after the options (the benchmarks and the fuzzers name theirs). Idempotent: only missing packages are installed.
#
#   scripts/instalar-dependencias.sh [--pruebas] [paquete ...]
set -euo pipefail
source "$(dirname "$0")/comun.sh"

paquetes=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libqt6printsupport6 libcups2-dev cups-client)
for argumento in "$@"; do
    if [[ "$argumento" == "--pruebas" ]]; then
        paquetes+=(cups cups-ipp-utils ghostscript chromium openssl xvfb trayer xdotool x11-utils imagemagick)
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
if ((${#faltan[@]} > 0)); then
    echo "Instalando: ${faltan[*]}"
    como_root apt-get update -qq
    como_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${faltan[@]}"
fi

# TypeScript for checking the web module's types, from the npm registry into a folder of the sources' own.
npm_local="$(cd "$(dirname "$0")/.." && pwd)/build/npm"
if [[ " $* " == *" --pruebas "* && ! -x "$npm_local/node_modules/.bin/tsc" ]]; then
    if ! command -v npm >/dev/null; then
        como_root apt-get update -qq
        como_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nodejs npm
    fi
    npm install --prefix "$npm_local" --no-audit --no-fund --loglevel=error typescript@5.9.3
fi
