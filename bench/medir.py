#!/usr/bin/env python3
"""Benchmarks of Plugin Tornavo against physical limits and a reference server (nginx), on this machine.

Prints one table: each figure with min/median/max over its repetitions and its target. Run through
bench/ejecutar.sh, which builds the Release agent and the scale simulator first.
"""

import argparse
import base64
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

RAIZ = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ORIGEN = "https://app.tornavo.com"


def puerto_libre():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def pedir(puerto, solicitud, espera=30.0):
    """Sends raw bytes, returns every byte received until the peer closes."""
    with socket.create_connection(("127.0.0.1", puerto), timeout=espera) as s:
        s.sendall(solicitud)
        partes = []
        while True:
            d = s.recv(65536)
            if not d:
                break
            partes.append(d)
    return b"".join(partes)


def get(puerto, ruta):
    return pedir(puerto, f"GET {ruta} HTTP/1.1\r\nHost: localhost\r\nOrigin: {ORIGEN}\r\n\r\n".encode())


def rss_kb(pid, campo="VmRSS"):
    with open(f"/proc/{pid}/status") as f:
        for linea in f:
            if linea.startswith(campo + ":"):
                return int(linea.split()[1])
    return 0


def cpu_s(pid):
    with open(f"/proc/{pid}/stat") as f:
        campos = f.read().rsplit(")", 1)[1].split()
    return (int(campos[11]) + int(campos[12])) / os.sysconf("SC_CLK_TCK")


class Agente:
    """The Release agent in a temporary program folder of its own."""

    def __init__(self, binario, lineas=""):
        self.dir = tempfile.mkdtemp(prefix="tornavo-bench-")
        self.puerto = puerto_libre()
        shutil.copy(binario, self.dir)
        with open(os.path.join(self.dir, "config.ini"), "w") as f:
            f.write(f"[Configuracion]\nPuertoHTTP={self.puerto}\nComportamiento=PORPETICION\n{lineas}")
        self.proc = None

    def iniciar(self):
        entorno = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=self.dir)
        inicio = time.perf_counter()
        self.proc = subprocess.Popen([os.path.join(self.dir, "plugin-tornavo")], cwd=self.dir, env=entorno,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while True:
            try:
                if b"200 OK" in get(self.puerto, "/status"):
                    return time.perf_counter() - inicio
            except OSError:
                pass
            if self.proc.poll() is not None:
                raise RuntimeError("the agent ended at start-up")
            time.sleep(0.0005)

    def detener(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


class Nginx:
    """nginx with one worker and keep-alive off, answering `cuerpo` to GET and discarding POST bodies."""

    def __init__(self, cuerpo):
        self.dir = tempfile.mkdtemp(prefix="tornavo-nginx-")
        self.puerto = puerto_libre()
        os.makedirs(os.path.join(self.dir, "logs"))
        literal = cuerpo.replace("\\", "\\\\").replace("'", "\\'")
        with open(os.path.join(self.dir, "nginx.conf"), "w") as f:
            f.write(f"""worker_processes 1;
daemon off;
pid {self.dir}/nginx.pid;
error_log {self.dir}/logs/error.log crit;
events {{ worker_connections 4096; }}
http {{
    access_log off;
    keepalive_timeout 0;
    client_max_body_size 200m;
    client_body_temp_path {self.dir};
    server {{
        listen 127.0.0.1:{self.puerto};
        location / {{
            default_type application/json;
            add_header Access-Control-Allow-Origin *;
            return 200 '{literal}';
        }}
        location /descartar {{
            client_body_buffer_size 200m;
            proxy_pass http://127.0.0.1:{self.puerto}/descartado;
        }}
        location /descartado {{ return 200 'ok'; }}
    }}
}}
""")
        self.proc = subprocess.Popen(["nginx", "-c", os.path.join(self.dir, "nginx.conf"), "-p", self.dir],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(500):
            try:
                get(self.puerto, "/")
                return
            except OSError:
                time.sleep(0.01)
        raise RuntimeError("nginx did not start")

    def detener(self):
        self.proc.terminate()
        self.proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


def wrk(puerto, ruta="/status", segundos=10):
    salida = subprocess.run(["wrk", "-t2", "-c50", f"-d{segundos}s", "-H", "Connection: close", "-H",
                             f"Origin: {ORIGEN}", f"http://127.0.0.1:{puerto}{ruta}"],
                            capture_output=True, text=True, check=True).stdout
    for linea in salida.splitlines():
        if linea.startswith("Requests/sec:"):
            return float(linea.split()[1])
    raise RuntimeError(salida)


def tres(valores):
    return min(valores), statistics.median(valores), max(valores)


FILAS = []


def fila(nombre, valores, unidad, objetivo, cumple):
    mn, med, mx = tres(valores) if isinstance(valores, list) else (valores, valores, valores)
    FILAS.append((nombre, f"{mn:.4g}", f"{med:.4g}", f"{mx:.4g}", unidad, objetivo, "sí" if cumple else "NO"))
    print(f"  {nombre}: {med:.4g} {unidad} (min {mn:.4g}, max {mx:.4g}) objetivo {objetivo}", flush=True)


def medir_rendimiento(binario, repeticiones):
    print("Throughput (wrk -t2 -c50 -d10s, Connection: close)", flush=True)
    agente = Agente(binario)
    agente.iniciar()
    cuerpo = get(agente.puerto, "/status").split(b"\r\n\r\n", 1)[1].decode()
    nginx = Nginx(cuerpo)
    try:
        propios, ajenos, cocientes = [], [], []
        for _ in range(repeticiones):
            ajeno = wrk(nginx.puerto)
            propio = wrk(agente.puerto)
            ajenos.append(ajeno)
            propios.append(propio)
            cocientes.append(propio / ajeno)
        fila("nginx /status", ajenos, "req/s", "referencia", True)
        fila("agente /status (con log)", propios, "req/s", "", True)
        fila("agente / nginx", cocientes, "×", "≥ 0.6", statistics.median(cocientes) >= 0.6)
    finally:
        nginx.detener()
        agente.detener()


def simulador(binario, *opciones):
    proc = subprocess.Popen([binario, *opciones], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    dispositivo = proc.stdout.readline().strip()
    return proc, dispositivo


def medir_peso(binario, simulada):
    print("Weight latency (scale answering after 30 ms)", flush=True)
    proc, dispositivo = simulador(simulada, "--protocolo", "SYSTEL1", "--peso", "12.345", "--demora", "30")
    agente = Agente(binario, f"Comportamiento=NORMAL\nDispositivoBalanza={dispositivo}\n")
    try:
        agente.iniciar()
        tiempos = []
        for _ in range(200):
            inicio = time.perf_counter()
            respuesta = get(agente.puerto, "/pesoBalanza")
            tiempos.append((time.perf_counter() - inicio) * 1000)
            if not respuesta.endswith(b"12.345"):
                raise RuntimeError(respuesta)
        tiempos.sort()
        p99 = tiempos[int(len(tiempos) * 0.99) - 1]
        fila("peso: mediana", statistics.median(tiempos), "ms", "≤ 33", statistics.median(tiempos) <= 33)
        fila("peso: percentil 99", p99, "ms", "≤ 40", p99 <= 40)
    finally:
        agente.detener()
        proc.kill()
        proc.wait()

    proc, dispositivo = simulador(simulada, "--protocolo", "SYSTEL1", "--falla", "silencio")
    agente = Agente(binario, f"Comportamiento=NORMAL\nDispositivoBalanza={dispositivo}\n")
    try:
        agente.iniciar()
        antes = cpu_s(agente.proc.pid)
        inicio = time.perf_counter()
        while time.perf_counter() - inicio < 10:
            get(agente.puerto, "/pesoBalanza")
        uso = (cpu_s(agente.proc.pid) - antes) / (time.perf_counter() - inicio) * 100
        fila("CPU con balanza muda", uso, "% de un núcleo", "< 2", uso < 2)
    finally:
        agente.detener()
        proc.kill()
        proc.wait()


def pdf_de(bytes_totales):
    cabeza = b"%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\n"
    # Comment lines pad the file to its size.
    linea = b"%" + b"x" * 78 + b"\n"
    cuerpo = bytearray(cabeza)
    while len(cuerpo) + len(linea) < bytes_totales - 64:
        cuerpo += linea
    cuerpo += b"trailer<</Root 1 0 R>>\n%%EOF\n"
    return bytes(cuerpo)


def curl_post(url, archivo):
    """curl's own time for the transfer (connection to the last byte of the answer), the wall-clock time of the
    whole curl run (its start-up and reading the file included, some 25 ms here), and the status code."""
    inicio = time.perf_counter()
    salida = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total} %{http_code}", "-H",
                             f"Origin: {ORIGEN}", "-H", "Content-Type: application/json", "--data-binary",
                             f"@{archivo}", url], capture_output=True, text=True, check=True).stdout
    transferencia, codigo = salida.split()
    return float(transferencia), time.perf_counter() - inicio, codigo


def medir_documentos(binario, repeticiones):
    print("Large documents (20 MB PDF through POST /print-base64)", flush=True)
    carpeta = tempfile.mkdtemp(prefix="tornavo-pdf-")
    try:
        pdf = pdf_de(20 * 1000 * 1000)
        archivo = os.path.join(carpeta, "cuerpo.json")
        with open(archivo, "wb") as f:
            f.write(b'{"base64":"' + base64.b64encode(pdf) + b'","nombreImpresora":"PREDETERMINADA"}')
        tamano = os.path.getsize(archivo)
        agente = Agente(binario)
        nginx = Nginx("ok")
        try:
            agente.iniciar()
            reposo = rss_kb(agente.proc.pid)
            propios, ajenos, propiosReloj, ajenosReloj = [], [], [], []
            for _ in range(repeticiones):
                t, reloj, codigo = curl_post(f"http://127.0.0.1:{nginx.puerto}/descartar", archivo)
                ajenos.append(t * 1000)
                ajenosReloj.append(reloj * 1000)
                t, reloj, codigo = curl_post(f"http://127.0.0.1:{agente.puerto}/print-base64", archivo)
                if codigo != "200":
                    raise RuntimeError(codigo)
                propios.append(t * 1000)
                propiosReloj.append(reloj * 1000)
            pico = rss_kb(agente.proc.pid, "VmHWM")
            cocientes = [a / b for a, b in zip(propios, ajenos)]
            fila("nginx: recibir el cuerpo (curl)", ajenos, "ms", "referencia", True)
            fila("agente: respuesta a la impresión (curl)", propios, "ms", "", True)
            fila("agente / nginx", cocientes, "×", "≤ 2", statistics.median(cocientes) <= 2)
            # The same runs timed from outside, curl's start-up included: the figure used before.
            cocientesReloj = [a / b for a, b in zip(propiosReloj, ajenosReloj)]
            fila("nginx: la ejecución de curl entera", ajenosReloj, "ms", "referencia", True)
            fila("agente: la ejecución de curl entera", propiosReloj, "ms", "", True)
            fila("agente / nginx, ejecuciones enteras", cocientesReloj, "×", "≤ 2", statistics.median(cocientesReloj) <= 2)
            crecimiento = (pico - reposo) * 1024 / tamano
            fila("memoria pico sobre reposo", crecimiento, "× el cuerpo", "≤ 4", crecimiento <= 4)
        finally:
            nginx.detener()
            agente.detener()
    finally:
        shutil.rmtree(carpeta, ignore_errors=True)


def rafaga(puerto, cantidad):
    subprocess.run(["ab", "-q", "-n", str(cantidad), "-c", "50", "-H", f"Origin: {ORIGEN}",
                    f"http://127.0.0.1:{puerto}/status"], capture_output=True, check=True)


def medir_huella(binario, repeticiones):
    """Each repetition a fresh agent; each figure read once the agent has been idle for a second."""
    print("Footprint", flush=True)
    reposos, tras100s, derivas = [], [], []
    for _ in range(repeticiones):
        agente = Agente(binario)
        try:
            agente.iniciar()
            time.sleep(1)
            reposos.append(rss_kb(agente.proc.pid) / 1024)
            rafaga(agente.puerto, 100000)
            time.sleep(1)
            tras100 = rss_kb(agente.proc.pid) / 1024
            tras100s.append(tras100)
            rafaga(agente.puerto, 100000)
            time.sleep(1)
            derivas.append((rss_kb(agente.proc.pid) / 1024 - tras100) / tras100 * 100)
        finally:
            agente.detener()
    fila("memoria en reposo", reposos, "MB", "≤ 32", statistics.median(reposos) <= 32)
    fila("memoria tras 100.000 /status", tras100s, "MB", "≤ 48", statistics.median(tras100s) <= 48)
    fila("deriva de 100.000 a 200.000", derivas, "%", "±5", abs(statistics.median(derivas)) <= 5)


def medir_resistencia(binario, total):
    print(f"Soak ({total:,} requests; log files from past days in the folder)", flush=True)
    agente = Agente(binario)
    try:
        logs = os.path.join(agente.dir, "logs")
        os.makedirs(logs)
        ahora = time.time()
        for dias in range(1, 21):
            ruta = os.path.join(logs, time.strftime("log_%Y-%m-%d.log", time.localtime(ahora - dias * 86400)))
            with open(ruta, "w") as f:
                f.write("[old] line\r\n")
            os.utime(ruta, (ahora - dias * 86400, ahora - dias * 86400))
        agente.iniciar()
        medidas = []
        tanda = total // 10
        for _ in range(10):
            rafaga(agente.puerto, tanda)
            medidas.append(rss_kb(agente.proc.pid) / 1024)
        deriva = (medidas[-1] - medidas[0]) / medidas[0] * 100
        fila(f"memoria tras {tanda:,} … {total:,}", medidas, "MB", "plana", True)
        fila("deriva de la primera a la última tanda", deriva, "%", "±5", abs(deriva) <= 5)
        archivos = len([n for n in os.listdir(logs) if n.lower().startswith("log_") and n.lower().endswith(".log")])
        fila("archivos de log que quedan", archivos, "archivos", "≤ 8", archivos <= 8)
    finally:
        agente.detener()


def medir_arranque(binario, veces):
    print("Start-up (exec to the first answered /status)", flush=True)
    tiempos = []
    for _ in range(veces):
        agente = Agente(binario)
        try:
            tiempos.append(agente.iniciar() * 1000)
        finally:
            agente.detener()
    fila("arranque", tiempos, "ms", "≤ 30", statistics.median(tiempos) <= 30)


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--binario", default=os.path.join(RAIZ, "build/release/bin/plugin-tornavo"))
    p.add_argument("--simulada", default=os.path.join(RAIZ, "build/release/bin/balanza-simulada"))
    p.add_argument("--repeticiones", type=int, default=3)
    p.add_argument("--solo", nargs="*", default=["rendimiento", "peso", "documentos", "huella", "arranque"],
                   help="which to run; 'resistencia' (1,000,000 requests) only runs when named")
    p.add_argument("--total", type=int, default=1000000, help="requests of the soak run")
    a = p.parse_args()
    if "rendimiento" in a.solo:
        medir_rendimiento(a.binario, a.repeticiones)
    if "peso" in a.solo:
        medir_peso(a.binario, a.simulada)
    if "documentos" in a.solo:
        medir_documentos(a.binario, a.repeticiones)
    if "huella" in a.solo:
        medir_huella(a.binario, a.repeticiones)
    if "arranque" in a.solo:
        medir_arranque(a.binario, 10)
    if "resistencia" in a.solo:
        medir_resistencia(a.binario, a.total)

    print()
    print("| Medida | min | mediana | max | unidad | objetivo | cumple |")
    print("|---|---|---|---|---|---|---|")
    for f in FILAS:
        print("| " + " | ".join(f) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
