#!/bin/sh
# Takes the screenshot of the kit page for the documentation: the real agent with a simulated scale, a private CUPS
# with two queues (when run as root) and a stand-in Qendra, the page served from app.tornavo.com on loopback, and
# headless Chromium's --screenshot.
#
#   tests/browser/captura-banco.sh [folder with plugin-tornavo and balanza-simulada] [output PNG]
#
# Needs chromium, python3 (to serve the page) and, for the printers, cups and cups-client.
set -eu

raiz=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$raiz/build/release/bin}" && pwd)
salida=${2:-$raiz/docs/img/banco-de-pruebas.png}
case $salida in /*) ;; *) salida=$(pwd)/$salida ;; esac

tmp=$(mktemp -d)
pids=""
terminar() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $pids; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap terminar EXIT INT TERM

puerto_libre() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

esperar() { # command to retry, for up to 15 s
    i=0
    until "$@" >/dev/null 2>&1; do
        i=$((i + 1))
        [ $i -lt 150 ] || { echo "no responde: $*" >&2; exit 1; }
        sleep 0.1
    done
}

# Printers: a scheduler of our own, never the system's.
cups=$tmp/cups
if [ "$(id -u)" = 0 ] && command -v cupsd >/dev/null; then
    mkdir -p "$cups/etc/ppd" "$cups/spool/tmp" "$cups/cache" "$cups/state" "$cups/log" "$cups/salida"
    chmod 755 "$tmp" "$cups"; chmod 1777 "$cups/spool/tmp"; chmod 777 "$cups/salida"
    cat >"$cups/cupsd.conf" <<EOF
Listen $cups/cups.sock
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    cat >"$cups/cups-files.conf" <<EOF
ServerRoot $cups/etc
StateDir $cups/state
CacheDir $cups/cache
RequestRoot $cups/spool
TempDir $cups/spool/tmp
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
FileDevice Yes
SystemGroup root
EOF
    cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" &
    pids="$pids $!"
    export CUPS_SERVER="$cups/cups.sock"
    esperar sh -c 'lpstat -r | grep -q "scheduler is running"'
    lpadmin -p Caja -E -v "file://$cups/salida/caja.ps" -m drv:///sample.drv/generic.ppd 2>/dev/null
    lpadmin -p Etiquetas-Año -E -v "file://$cups/salida/etiquetas.ps" -m drv:///sample.drv/generic.ppd 2>/dev/null
    lpadmin -d Caja
else
    echo "sin CUPS privado (hace falta root): la lista de impresoras saldrá vacía" >&2
    export CUPS_SERVER="$tmp/sin-cups.sock"
fi

# The scale.
"$bin/balanza-simulada" --protocolo SYSTEL1 --peso 12.345 >"$tmp/balanza.txt" &
pids="$pids $!"
esperar test -s "$tmp/balanza.txt"
dispositivo=$(head -n 1 "$tmp/balanza.txt")

# The agent, in a program folder of its own.
agente=$tmp/agente
mkdir -p "$agente" "$tmp/csv" "$tmp/Qendra"
cp "$bin/plugin-tornavo" "$agente/"
printf '#!/bin/sh\nexit 0\n' >"$tmp/Qendra/Qendra"
chmod +x "$tmp/Qendra/Qendra"
puerto_agente=$(puerto_libre)
cat >"$agente/config.ini" <<EOF
[Configuracion]
PuertoHTTP=$puerto_agente
MODE=PRO
ProtocoloBalanza=Systel1
DispositivoBalanza=$dispositivo
CarpetaCSV=$tmp/csv/
ProgramaQendra=$tmp/Qendra/Qendra
EOF
(cd "$agente" && XDG_RUNTIME_DIR=$tmp QT_QPA_PLATFORM=offscreen exec ./plugin-tornavo >/dev/null 2>&1) &
pids="$pids $!"
esperar python3 -c "import socket; socket.create_connection(('127.0.0.1', $puerto_agente), 1)"

# The page, served as the web application would serve it, with the module it imports from ../web/.
puerto_pagina=$(puerto_libre)
python3 -m http.server "$puerto_pagina" --bind 127.0.0.1 --directory "$raiz" >/dev/null 2>&1 &
pids="$pids $!"
esperar python3 -c "import socket; socket.create_connection(('127.0.0.1', $puerto_pagina), 1)"

mkdir -p "$(dirname "$salida")"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$tmp/perfil" --hide-scrollbars \
    --host-resolver-rules="MAP app.tornavo.com 127.0.0.1" --window-size=1280,1000 --virtual-time-budget=8000 \
    --screenshot="$salida" \
    "http://app.tornavo.com:$puerto_pagina/examples/banco-de-pruebas.html?agente=http://localhost:$puerto_agente&auto=1" \
    >/dev/null 2>&1
echo "$salida"
