#!/usr/bin/env bash
# The Debian package on this machine: its contents and conffiles, its dependencies, lintian, and (as root) an
# install, a start as the autostart entry says, /status, the log where the start-up line says, a remove and a purge
# that leave none of its files behind.
#
#   tests/paquete/deb.sh [plugin-tornavo_<version>_amd64.deb]
#
# Without a package it builds one first (scripts/empaquetar-deb.sh).
set -euo pipefail
source "$(dirname "$0")/../../scripts/comun.sh"

"$raiz/scripts/instalar-dependencias.sh" lintian desktop-file-utils curl python3
if (($# > 0)); then
    deb=$(realpath -m "$1")
else
    "$raiz/scripts/empaquetar-deb.sh"
    deb=$(ls "$raiz"/build/paquete/plugin-tornavo_*_amd64.deb)
fi
[[ -f "$deb" ]] || { echo "FALLA: no existe $deb (scripts/empaquetar-deb.sh lo construye)" >&2; exit 1; }

echo "== Contenido (dpkg-deb -c)"
contenido=$(dpkg-deb -c "$deb")
echo "$contenido"
for ruta in ./usr/bin/plugin-tornavo ./usr/share/applications/plugin-tornavo.desktop \
    ./usr/share/icons/hicolor/64x64/apps/plugin-tornavo.png ./usr/share/icons/hicolor/scalable/apps/plugin-tornavo.svg \
    ./etc/xdg/autostart/plugin-tornavo.desktop ./etc/plugin-tornavo/config.ini \
    ./etc/plugin-tornavo/politica-navegador.json ./etc/chromium/policies/managed/plugin-tornavo.json \
    ./usr/share/doc/plugin-tornavo/README.Debian ./usr/share/man/man1/plugin-tornavo.1.gz; do
    grep -qE " $ruta( ->|$)" <<<"$contenido" || falla "falta $ruta en el paquete"
done
conffiles=$(dpkg-deb -I "$deb" conffiles)
for ruta in /etc/plugin-tornavo/config.ini /etc/plugin-tornavo/politica-navegador.json \
    /etc/xdg/autostart/plugin-tornavo.desktop; do
    grep -qx "$ruta" <<<"$conffiles" || falla "$ruta no es un conffile"
done
dependencias=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $dependencias"
grep -q "libqt6widgets6" <<<"$dependencias" || falla "las dependencias no nombran Qt: $dependencias"

echo "== lintian"
if ! lintian --fail-on error,warning --info "$deb"; then
    falla "lintian informa errores o avisos"
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "SALTADO: instalar, arrancar y quitar el paquete necesita root (ejecútese como root)."
    ((fallos == 0)) || exit 1
    exit 0
fi
if dpkg-query -W -f='${Status}' plugin-tornavo 2>/dev/null | grep -q "ok installed"; then
    echo "SALTADO: plugin-tornavo ya está instalado en este equipo; la prueba no lo toca." >&2
    ((fallos == 0)) || exit 1
    exit 0
fi

tmp=$(mktemp -d)
pid=
habia_chrome=0
[[ -e /etc/opt/chrome ]] && habia_chrome=1
limpiar() {
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
    dpkg --purge plugin-tornavo >/dev/null 2>&1 || true
    rm -rf "$tmp"
}
trap limpiar EXIT

echo "== Instalar (apt-get install ./$(basename "$deb"))"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends "$deb" \
    >"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; falla "no se pudo instalar"; exit 1; }

politica=/etc/plugin-tornavo/politica-navegador.json
for enlace in /etc/chromium/policies/managed/plugin-tornavo.json /etc/opt/chrome/policies/managed/plugin-tornavo.json; do
    [[ "$(readlink -f "$enlace")" == "$politica" ]] || falla "$enlace no lleva a $politica"
done
for clave in LocalNetworkAccessAllowedForUrls LoopbackNetworkAllowedForUrls; do
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(d.get(sys.argv[2]) != ["https://[*.]tornavo.com"])' \
        "$politica" "$clave" || falla "$politica no permite https://[*.]tornavo.com en $clave"
done

echo "== Arrancar como dice /etc/xdg/autostart/plugin-tornavo.desktop"
orden=$(sed -n 's/^Exec=//p' /etc/xdg/autostart/plugin-tornavo.desktop)
echo "Exec=$orden"
# A user of its own: a free port in the user's config.ini, over the machine's, and no scale.
casa="$tmp/casa"
mkdir -p "$casa/.config/plugin-tornavo" "$tmp/run" "$tmp/tmp"
chmod 700 "$tmp/run"
puerto=$(puerto_libre)
printf '[Configuracion]\nPuertoHTTP=%s\nDispositivoBalanza=%s/no-hay-balanza\n' "$puerto" "$tmp" \
    >"$casa/.config/plugin-tornavo/config.ini"
env -i PATH=/usr/bin:/bin HOME="$casa" XDG_RUNTIME_DIR="$tmp/run" TMPDIR="$tmp/tmp" QT_QPA_PLATFORM=offscreen \
    CUPS_SERVER="$tmp/sin-cups.sock" sh -c "exec $orden" >"$tmp/salida.log" 2>&1 &
pid=$!
estado=
for _ in $(seq 150); do
    estado=$(curl -s -m 2 -H 'Origin: https://app.tornavo.com' "http://127.0.0.1:$puerto/status" || true)
    [[ "$estado" == *'"status":"ok"'* ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
echo "/status: $estado"
[[ "$estado" == *'"status":"ok"'*"\"puerto\":\"$puerto\""* ]] || { cat "$tmp/salida.log"; falla "no respondió /status"; }

# The start-up line names the log folder; the day's file must be there and hold that very line.
datos="$casa/.local/share/plugin-tornavo/logs"
archivo="$datos/log_$(date +%Y-%m-%d).log"
linea=$(grep -h "Configuración leída de" "$datos"/log_*.log 2>/dev/null | head -1 || true)
echo "Línea de inicio: $linea"
carpeta=${linea##*; registro en }
carpeta=${carpeta%$'\r'}
esperada="Configuración leída de /etc/plugin-tornavo/config.ini y $casa/.config/plugin-tornavo/config.ini (instalación)"
[[ "$linea" == *"$esperada"* ]] || falla "la línea de inicio no nombra los dos config.ini"
[[ "$carpeta" == "$datos" && -f "$archivo" ]] || falla "el registro no está donde dice la línea de inicio ($carpeta)"
[[ ! -e /usr/bin/logs ]] || falla "escribió en /usr/bin/logs"
kill -TERM "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && falla "no terminó con SIGTERM"
wait "$pid" 2>/dev/null || true
pid=

echo "== Quitar (dpkg --remove), luego purgar (dpkg --purge)"
dpkg --remove plugin-tornavo >/dev/null
[[ -f /etc/plugin-tornavo/config.ini ]] || falla "quitar (sin purgar) borró el config.ini del administrador"
for ruta in /etc/chromium/policies/managed/plugin-tornavo.json /etc/opt/chrome/policies/managed/plugin-tornavo.json \
    /usr/bin/plugin-tornavo; do
    [[ -e "$ruta" || -L "$ruta" ]] && falla "$ruta sigue tras quitar el paquete"
done
dpkg --purge plugin-tornavo >/dev/null
quedan=0
while read -r ruta; do
    ruta=${ruta#.}
    [[ -z "$ruta" || "$ruta" == */ ]] && continue
    if [[ -e "$ruta" || -L "$ruta" ]]; then
        falla "$ruta sigue tras purgar"
        quedan=$((quedan + 1))
    fi
done < <(awk '{ print $6 }' <<<"$contenido")
carpetas=(/etc/plugin-tornavo /usr/share/doc/plugin-tornavo)
((habia_chrome)) || carpetas+=(/etc/opt/chrome)
for carpeta in "${carpetas[@]}"; do
    [[ -e "$carpeta" ]] && falla "$carpeta sigue tras purgar"
done
echo "Archivos del paquete que quedan tras purgar: $quedan"

if ((fallos > 0)); then
    echo "Paquete Debian: $fallos fallos" >&2
    exit 1
fi
echo "Paquete Debian: todo bien"
