#!/usr/bin/env bash
# Installs what is missing, builds Plugin Tornavo in Release and starts it.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
"$raiz/scripts/instalar-dependencias.sh"
cmake -S "$raiz" -B "$raiz/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$raiz/build/release"
exec "$raiz/build/release/bin/plugin-tornavo"
