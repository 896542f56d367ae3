#!/usr/bin/env bash
# Lists every #include "<folder>/..." between the folders of src/ and fails on any arrow against the plan of layers:
# app -> http -> {scale, printing, handoff} -> settings -> base.
set -euo pipefail
src=${1:-$(dirname "$0")/../src}
declare -A permitido=(
    [base]="base"
    [settings]="settings base"
    [scale]="scale settings base"
    [printing]="printing settings base"
    [handoff]="handoff settings base"
    [http]="http scale printing handoff settings base"
    [app]="app http scale printing handoff settings base"
)
fallos=0
while IFS= read -r linea; do
    archivo=${linea%%:*}
    desde=$(basename "$(dirname "$archivo")")
    hacia=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$linea")
    if [[ -z "${permitido[$desde]:-}" ]]; then
        echo "carpeta desconocida: $desde ($archivo)"
        fallos=1
    elif [[ " ${permitido[$desde]} " != *" $hacia "* ]]; then
        echo "contra el plan: $desde -> $hacia ($linea)"
        fallos=1
    fi
done < <(grep -rnE '^#include "[a-z_]+/' "$src" --include='*.cpp' --include='*.h')
exit $fallos
