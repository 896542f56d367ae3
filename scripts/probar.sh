#!/usr/bin/env bash
# Installs what is missing (test tools included), builds the test build (warnings as errors, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
"$raiz/scripts/instalar-dependencias.sh" --pruebas
cmake -S "$raiz" -B "$raiz/build/test" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DTORNAVO_TESTS=ON -DTORNAVO_WERROR=ON -DTORNAVO_SANITIZERS=ON >/dev/null
cmake --build "$raiz/build/test"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
cd "$raiz/build/test"
ctest --output-on-failure
"$raiz/scripts/empaquetar-deb.sh" --probar
