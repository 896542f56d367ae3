#!/usr/bin/env bash
# Builds the Windows installer, build/windows/PluginTornavo-<version>-setup.exe, from the folder that
# scripts/construir-windows.sh lays out (built first when missing). Idempotent: installs only what is missing.
#
#   scripts/empaquetar-windows.sh [--sumatra RUTA/SumatraPDF-3.5.2-32.exe] [--dominio tornavo.com]
#
# SumatraPDF cannot be fetched here: given, it is bundled; without it the installer finishes and says that printing
# needs it and where to put it. The domain is the web application's (DominioWeb): the browsers are allowed to let
# its HTTPS pages reach the agent.
set -euo pipefail
source "$(dirname "$0")/comun.sh"
sumatra=""
dominio=tornavo.com
while (($# > 0)); do
    case "$1" in
    --sumatra)
        sumatra=$(realpath "$2")
        shift 2
        ;;
    --dominio)
        dominio=$2
        shift 2
        ;;
    *)
        echo "uso: $0 [--sumatra RUTA] [--dominio DOMINIO]" >&2
        exit 2
        ;;
    esac
done
if [[ -n "$sumatra" && ! -f "$sumatra" ]]; then
    echo "No existe $sumatra" >&2
    exit 1
fi

"$raiz/scripts/instalar-dependencias.sh" nsis
carpeta=$raiz/build/windows/PluginTornavo
if [[ ! -f "$carpeta/plugin-tornavo.exe" ]]; then
    "$raiz/scripts/construir-windows.sh"
fi
version=$(version_del_proyecto)
salida=$raiz/build/windows/PluginTornavo-$version-setup.exe

# The machine-wide config.ini: the commented one of the folder, with CR LF as Notepad expects.
trabajo=$(mktemp -d)
trap 'rm -rf "$trabajo"' EXIT
{
    printf '; Plugin Tornavo: ajustes de todos los usuarios de este equipo (lo edita un administrador).\n'
    printf '; Cada usuario puede cambiar claves sueltas en %%LOCALAPPDATA%%\\Plugin Tornavo\\config.ini.\n'
    sed 's/\r$//' "$raiz/config.ini"
} | sed 's/$/\r/' >"$trabajo/config.ini"

definiciones=(-DVERSION="$version" -DCARPETA="$carpeta" -DCONFIG="$trabajo/config.ini"
    -DICONO="$raiz/resources/tornavo.ico" -DSALIDA="$salida" -DDOMINIO="$dominio")
if [[ -n "$sumatra" ]]; then
    definiciones+=(-DSUMATRA="$sumatra")
fi
makensis -V2 -WX "${definiciones[@]}" "$raiz/paquetes/windows/plugin-tornavo.nsi"
echo "Instalador: $salida ($(du -h "$salida" | cut -f1))"
