#!/usr/bin/env bash
# Installs what is missing (test tools included), builds the test build (warnings as errors, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test; then cross-builds for Windows and runs the Windows tests under
# Wine (scripts/probar-windows.sh).
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
"$raiz/scripts/instalar-dependencias.sh" --pruebas
cmake -S "$raiz" -B "$raiz/build/test" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DTORNAVO_TESTS=ON -DTORNAVO_WERROR=ON -DTORNAVO_SANITIZERS=ON >/dev/null
cmake --build "$raiz/build/test"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# Linux first (the suites, then the Debian package), then Windows under Wine; each runs to the end, and any failing
# fails the whole.
fallos=()
(cd "$raiz/build/test" && ctest --output-on-failure) || fallos+=(Linux)
"$raiz/scripts/empaquetar-deb.sh" --probar || fallos+=("paquete Debian")
"$raiz/scripts/probar-windows.sh" || fallos+=(Windows)
if ((${#fallos[@]} > 0)); then
    echo "Fallaron las pruebas de: ${fallos[*]}" >&2
    exit 1
fi
