#!/usr/bin/env bash
# Builds the Release agent and the scale simulator, then runs every benchmark and prints one table.
# Not part of the test command: it takes a few minutes and wants a quiet machine.
set -euo pipefail
source "$(dirname "$0")/../scripts/comun.sh"
"$raiz/scripts/instalar-dependencias.sh" wrk nginx-light apache2-utils curl python3
configurar "$raiz/build/release" -DCMAKE_BUILD_TYPE=Release
construir "$raiz/build/release"
exec python3 "$raiz/bench/medir.py" "$@"
