#!/usr/bin/env bash
# Installs what is missing (test tools included), builds the test build (warnings as errors, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test; then builds and checks the Debian package (tests/paquete/deb.sh),
# cross-builds for Windows and runs the Windows tests under Wine (scripts/probar-windows.sh).
set -euo pipefail
source "$(dirname "$0")/comun.sh"
"$raiz/scripts/instalar-dependencias.sh" --pruebas
configurar_pruebas
construir "$raiz/build/test"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# Linux first (the suites, then the Debian package), then Windows under Wine; each runs to the end, and any failing
# fails the whole.
fallaron=()
(cd "$raiz/build/test" && ctest --output-on-failure) || fallaron+=(Linux)
"$raiz/tests/paquete/deb.sh" || fallaron+=("paquete Debian")
"$raiz/scripts/probar-windows.sh" || fallaron+=(Windows)
if ((${#fallaron[@]} > 0)); then
    echo "Fallaron las pruebas de: ${fallaron[*]}" >&2
    exit 1
fi
