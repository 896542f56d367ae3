#!/usr/bin/env bash
# Cross-builds Plugin Tornavo for 64-bit Windows with MinGW-w64 and lays out a folder that runs on its own:
# build/windows/PluginTornavo/ (the agent, config.ini, the Qt and MinGW DLLs it imports, the Qt plugins it loads).
# Idempotent: installs only what is missing, unpacks the Qt toolchain once, rebuilds only what changed.
#
#   scripts/construir-windows.sh [--pruebas]
#
# --pruebas also builds the Windows test executables (warnings as errors) and the stand-in programs, and the
# Linux programs the Wine tests drive them with (balanza-simulada, e2e_wine, e2e_wine_impresion, ventana_wine and
# the Linux agent the window is compared with, in build/test).
# The toolchain comes from ../shared/toolchains/qt6-mingw64 (or TORNAVO_QT_MINGW_TAR) and is checked against its
# SHA256SUMS.
set -euo pipefail
source "$(dirname "$0")/comun.sh"
pruebas=0
for argumento in "$@"; do
    case "$argumento" in
    --pruebas) pruebas=1 ;;
    *)
        echo "uso: $0 [--pruebas]" >&2
        exit 2
        ;;
    esac
done

extras=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools qt6-base-dev-tools xz-utils)
if ((pruebas)); then
    extras+=(wine64 icoutils socat util-linux)
    "$raiz/scripts/instalar-dependencias.sh" --pruebas "${extras[@]}"
else
    "$raiz/scripts/instalar-dependencias.sh" "${extras[@]}"
fi

# Qt is built with posix threads; the win32 thread model of the same compiler cannot link it.
for compilador in gcc g++; do
    posix=/usr/bin/x86_64-w64-mingw32-$compilador-posix
    if [[ "$(readlink -f "/usr/bin/x86_64-w64-mingw32-$compilador")" != "$posix" ]]; then
        como_root update-alternatives --set "x86_64-w64-mingw32-$compilador" "$posix" >/dev/null
    fi
done

construccion=$raiz/build/windows
herramientas=$raiz/build/toolchains
qt=$herramientas/qt6-mingw64
tar_qt=${TORNAVO_QT_MINGW_TAR:-$raiz/../shared/toolchains/qt6-mingw64/qt6-mingw64-6.4.2.tar.xz}
if [[ ! -f "$qt/.desempaquetado" ]]; then
    sumas=$(dirname "$tar_qt")/SHA256SUMS
    esperada=$(awk -v nombre="$(basename "$tar_qt")" '{n = $2; sub(/.*\//, "", n)} n == nombre {print $1}' "$sumas")
    obtenida=$(sha256sum "$tar_qt" | awk '{print $1}')
    if [[ -z "$esperada" || "$esperada" != "$obtenida" ]]; then
        echo "La suma de $tar_qt no coincide con $sumas ($obtenida frente a '${esperada}')" >&2
        exit 1
    fi
    rm -rf "$qt"
    mkdir -p "$herramientas"
    tar -xJf "$tar_qt" -C "$herramientas"
    touch "$qt/.desempaquetado"
fi

configurar_windows() {
    local carpeta=$1
    shift
    configurar "$carpeta" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$qt/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr "$@"
}

configurar_windows "$construccion/release"
construir "$construccion/release"

# --- The runnable folder ---------------------------------------------------------------------------------------
carpeta=$construccion/PluginTornavo
objdump=x86_64-w64-mingw32-objdump
# Where the DLLs a Windows program may import come from; anything else must be a DLL Windows itself has.
fuentes=("$qt/bin")
dlls_sistema=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

rm -rf "$carpeta"
mkdir -p "$carpeta/platforms" "$carpeta/styles"
cp "$construccion/release/bin/plugin-tornavo.exe" "$construccion/release/bin/config.ini" "$carpeta/"
# The plugins Qt loads at start: the platform (qwindows on a desktop, qoffscreen without a screen) and the style.
# Qt 6 has the Windows print support inside Qt6PrintSupport.dll and PNG inside Qt6Gui.dll: no other plugin is loaded.
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$carpeta/platforms/"
cp "$qt/plugins/styles/"*.dll "$carpeta/styles/"

# Every DLL named in the import tables, followed through the DLLs it brings in.
pendientes=("$carpeta/plugin-tornavo.exe" "$carpeta"/platforms/*.dll "$carpeta"/styles/*.dll)
declare -A vistos=()
sistema=()
while ((${#pendientes[@]} > 0)); do
    archivo=${pendientes[0]}
    pendientes=("${pendientes[@]:1}")
    while read -r dll; do
        clave=${dll,,}
        [[ -n "${vistos[$clave]:-}" ]] && continue
        vistos[$clave]=1
        encontrado=""
        for fuente in "${fuentes[@]}"; do
            candidato=$(find "$fuente" -maxdepth 1 -iname "$dll" -print -quit)
            if [[ -n "$candidato" ]]; then
                encontrado=$candidato
                break
            fi
        done
        if [[ -n "$encontrado" ]]; then
            cp "$encontrado" "$carpeta/"
            pendientes+=("$carpeta/$(basename "$encontrado")")
        else
            sistema+=("$dll")
        fi
    done < <("$objdump" -p "$archivo" | awk '/DLL Name:/ {print $3}')
done
# Debug symbols are of no use in a shop and are most of the MinGW runtime's size (libstdc++ alone is over 20 MB).
x86_64-w64-mingw32-strip --strip-unneeded "$carpeta/plugin-tornavo.exe" "$carpeta"/lib*.dll
# A DLL that is neither deployed nor part of Windows would make the program fail to start elsewhere.
if [[ -d "$dlls_sistema" ]]; then
    for dll in "${sistema[@]}"; do
        # API sets (api-ms-*, ext-ms-*) are names the Windows loader resolves itself; they have no file.
        if [[ "${dll,,}" == api-ms-* || "${dll,,}" == ext-ms-* ]]; then
            continue
        fi
        if [[ -z "$(find "$dlls_sistema" -maxdepth 1 -iname "$dll" -print -quit)" ]]; then
            echo "$dll no está en la carpeta ni es una DLL de Windows" >&2
            exit 1
        fi
    done
fi
{
    echo "Plugin Tornavo $(version_del_proyecto) para Windows x64."
    echo "Qt 6.4.2 (LGPL v3): sus DLL van sin cambios; fuentes: paquete qt6-base 6.4.2+dfsg-10 de Debian y qtserialport v6.4.2."
    echo "DLL de Windows que usa: ${sistema[*],,}"
} >"$carpeta/LEEME-Qt.txt"
echo "Carpeta lista: $carpeta ($(cd "$carpeta" && find . -type f | wc -l) archivos, $(du -sh "$carpeta" | cut -f1))"

if ((pruebas)); then
    configurar_windows "$construccion/pruebas" -DTORNAVO_TESTS=ON -DTORNAVO_WERROR=ON \
        -DTORNAVO_CARPETA_WINDOWS="$carpeta" -DTORNAVO_BINARIOS_LINUX="$raiz/build/test/bin"
    construir "$construccion/pruebas"
    # The Linux side of the Wine tests, in the Linux test build.
    if [[ ! -f "$raiz/build/test/build.ninja" ]]; then
        configurar_pruebas
    fi
    construir "$raiz/build/test" --target balanza-simulada e2e_wine e2e_wine_impresion ventana_wine plugin-tornavo
fi
