#!/usr/bin/env bash
# Runs a Windows Qt Test executable under Wine for CTest (the cross build's CMAKE_CROSSCOMPILING_EMULATOR).
#
#   ejecutar-en-wine.sh QT_WINDOWS WINEPREFIX programa.exe [argumentos ...]
#
# The Qt DLLs and plugins come from the toolchain (WINEPATH, QT_PLUGIN_PATH); the prefix is made on first use.
# TORNAVO_OMITIR (comma-separated test functions) runs every function of the suite but those.
set -euo pipefail
qt=$1
export WINEPREFIX=$2
programa=$3
shift 3

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
# Wine keeps Linux variables named QT_* away from Windows programs and hands WINEQT_* over as QT_*.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEQT_QPA_PLATFORM=offscreen
ventanas() { printf 'Z:%s' "${1//\//\\}"; }

"$(dirname "$0")/preparar-prefijo.sh" "$wine"

export WINEPATH=$(ventanas "$qt/bin")
export WINEQT_PLUGIN_PATH=$(ventanas "$qt/plugins")

funciones=()
if [[ -n "${TORNAVO_OMITIR:-}" ]]; then
    IFS=, read -r -a omitir <<<"$TORNAVO_OMITIR"
    while IFS= read -r funcion; do
        funcion=${funcion%$'\r'}
        funcion=${funcion%()}
        [[ -z "$funcion" ]] && continue
        saltar=0
        for o in "${omitir[@]}"; do
            [[ "$o" == "$funcion" ]] && saltar=1
        done
        ((saltar)) || funciones+=("$funcion")
    done < <("$wine" "$programa" -functions)
    echo "Omitidas bajo Windows: $TORNAVO_OMITIR"
fi

# Under Wine a console program's stdout counts as a console, and Qt Test then logs with OutputDebugString, which
# nobody sees: the log goes to a file, shown once the suite ends.
salida=$(mktemp --suffix=.txt)
trap 'rm -f "$salida"' EXIT
codigo=0
"$wine" "$programa" "$@" "${funciones[@]}" -o "$(ventanas "$salida"),txt" || codigo=$?
cat "$salida"
exit "$codigo"
