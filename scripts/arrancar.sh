#!/usr/bin/env bash
# Installs what is missing, builds Plugin Tornavo in Release and starts it.
set -euo pipefail
source "$(dirname "$0")/comun.sh"
"$raiz/scripts/instalar-dependencias.sh"
configurar "$raiz/build/release" -DCMAKE_BUILD_TYPE=Release
construir "$raiz/build/release"
exec "$raiz/build/release/bin/plugin-tornavo"
