#!/usr/bin/env bash
# The Windows part of the tests: cross-builds the agent, its folder and the Windows test executables
# (scripts/construir-windows.sh --pruebas) and the installer (scripts/empaquetar-windows.sh), then runs them under
# Wine with CTest: the unit suites, the check of the executable's resources, the end-to-end run of the deployed
# folder and the installer's silent install and uninstall (tests/wine).
set -euo pipefail
source "$(dirname "$0")/comun.sh"
"$raiz/scripts/construir-windows.sh" --pruebas
"$raiz/scripts/empaquetar-windows.sh"
cd "$raiz/build/windows/pruebas"
exec ctest --output-on-failure -j "$(trabajos)"
