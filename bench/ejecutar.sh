#!/usr/bin/env bash
# Builds the Release agent and the scale simulator, then runs every benchmark and prints one table.
# Not part of the test command: it takes a few minutes and wants a quiet machine.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
"$raiz/scripts/instalar-dependencias.sh" wrk nginx-light apache2-utils curl python3
cmake -S "$raiz" -B "$raiz/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$raiz/build/release"
exec python3 "$raiz/bench/medir.py" "$@"
