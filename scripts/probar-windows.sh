#!/usr/bin/env bash
# The Windows part of the tests: cross-builds the agent, its folder and the Windows test executables
# (scripts/construir-windows.sh --pruebas), then runs them under Wine with CTest: the unit suites, the check of the
# executable's resources and the end-to-end run of the deployed folder (tests/wine).
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
"$raiz/scripts/construir-windows.sh" --pruebas
cd "$raiz/build/windows/pruebas"
exec ctest --output-on-failure -j2
