#!/usr/bin/env bash
# Checks the built agent as Windows will see it: a GUI program (no console window), its version resource carrying
# the project's version in both the numbers and the text Explorer shows, and the icon of resources/ in it.
#
#   revisar-exe.sh plugin-tornavo.exe VERSION tornavo.ico
set -uo pipefail
source "$(dirname "$0")/../../scripts/comun.sh"
exe=$1
version=$2
icono=$3
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

subsistema=$("$objdump" -p "$exe" | awk '$1 == "Subsystem" {print $2}')
if [[ "$subsistema" == "00000002" ]]; then
    bien "subsistema Windows GUI"
else
    falla "subsistema '$subsistema', se esperaba 00000002 (Windows GUI, sin consola)"
fi

# VS_FIXEDFILEINFO follows its signature 0xFEEF04BD: struct version, then the file and product versions as
# most/least significant double words, each holding two 16-bit numbers.
if ! wrestool -x --raw --type=16 "$exe" >"$tmp/version.bin" 2>"$tmp/error" || [[ ! -s "$tmp/version.bin" ]]; then
    falla "sin recurso de versión ($(cat "$tmp/error"))"
else
    bytes=$(od -An -tx1 -v "$tmp/version.bin" | tr -s ' \n' ' ')
    fijo=$(grep -o 'bd 04 ef fe\( [0-9a-f][0-9a-f]\)\{20\}' <<<"$bytes" | head -1)
    if [[ -z "$fijo" ]]; then
        falla "el recurso de versión no tiene VS_FIXEDFILEINFO"
    else
        read -r -a b <<<"$fijo"
        palabra() { echo $((16#${b[$2]}${b[$1]})); }
        archivo="$(palabra 10 11).$(palabra 8 9).$(palabra 14 15).$(palabra 12 13)"
        producto="$(palabra 18 19).$(palabra 16 17).$(palabra 22 23).$(palabra 20 21)"
        [[ "$archivo" == "$version" ]] && bien "FILEVERSION $archivo" || falla "FILEVERSION $archivo, se esperaba $version"
        [[ "$producto" == "$version" ]] && bien "PRODUCTVERSION $producto" ||
            falla "PRODUCTVERSION $producto, se esperaba $version"
    fi
    textos=$(strings -el "$tmp/version.bin" | tr '\n' '|')
    for clave in FileVersion ProductVersion; do
        if grep -q "|$clave|$version|" <<<"|$textos"; then
            bien "$clave \"$version\""
        else
            falla "$clave no es \"$version\" en StringFileInfo: $textos"
        fi
    done
fi

# The version resource is filed under the language its text block and translation name (0x0C0A, Spanish).
idioma=$(wrestool -l --type=16 "$exe" 2>/dev/null | sed -n 's/.*--language=\([0-9]*\).*/\1/p' | head -1)
[[ "$idioma" == "3082" ]] && bien "recurso de versión en español (3082)" ||
    falla "recurso de versión en el idioma '$idioma', se esperaba 3082 (0x0C0A)"

# The group icon, extracted as an .ico file, must hold the same images as the project's icon.
if ! wrestool -x --type=14 "$exe" -o "$tmp/icono.ico" 2>"$tmp/error" || [[ ! -s "$tmp/icono.ico" ]]; then
    falla "sin icono ($(cat "$tmp/error"))"
else
    esperado=$(icotool -l "$icono" | sed 's/--index=[0-9]* //' | sort)
    obtenido=$(icotool -l "$tmp/icono.ico" | sed 's/--index=[0-9]* //' | sort)
    if [[ -n "$esperado" && "$esperado" == "$obtenido" ]]; then
        bien "icono con $(wc -l <<<"$obtenido") imágenes, como $(basename "$icono")"
    else
        falla "el icono no es el de $(basename "$icono"): '$obtenido' frente a '$esperado'"
    fi
    icotool -x -o "$tmp/esperada.png" --index=1 "$icono" 2>/dev/null
    icotool -x -o "$tmp/obtenida.png" --index=1 "$tmp/icono.ico" 2>/dev/null
    if [[ -s "$tmp/esperada.png" ]] && cmp -s "$tmp/esperada.png" "$tmp/obtenida.png"; then
        bien "la primera imagen del icono es idéntica"
    else
        falla "la primera imagen del icono difiere de la de $(basename "$icono")"
    fi
fi
exit $((fallos > 0))
