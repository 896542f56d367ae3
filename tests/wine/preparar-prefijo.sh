#!/usr/bin/env bash
# Makes the Wine prefix WINEPREFIX on first use; every Windows test calls it before it starts Wine.
#
#   preparar-prefijo.sh WINE
#
# Several tests may start at once: one of them makes the prefix, the others wait for it. wineboot returns before
# the registry is on disk (wineserver writes it when it exits), so the prefix counts as made only once wineserver
# has gone.
set -euo pipefail
wine=$1
: "${WINEPREFIX:?}"
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        "$wine" wineboot -i >/dev/null 2>&1
        "$(dirname "$wine")/wineserver" -w 2>/dev/null || wineserver -w
    fi
) 9>"$WINEPREFIX.lock"
[[ -f "$WINEPREFIX/system.reg" ]] || { echo "wineboot -i no creó el prefijo $WINEPREFIX" >&2; exit 1; }
