#!/usr/bin/env python3
"""Benchmarks of Plugin Tornavo against physical limits and a reference server (nginx), on this machine.

Prints one table: each figure with min/median/max over its repetitions and its target. Run through
bench/ejecutar.sh, which builds the Release agent and the scale simulator first.
"""

import argparse
import base64
import ctypes
import ctypes.util
import json
import multiprocessing
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
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
        self.binario = binario
        self.puerto = puerto_libre()
        shutil.copy(binario, self.dir)  # keeps its name: the program is started by it
        with open(os.path.join(self.dir, "config.ini"), "w") as f:
            # The first of two lines with one key is the one read: a behaviour asked for replaces the default here.
            comportamiento = "" if "Comportamiento=" in lineas else "Comportamiento=PORPETICION\n"
            f.write(f"[Configuracion]\nPuertoHTTP={self.puerto}\n{comportamiento}{lineas}")
        self.proc = None

    def iniciar(self):
        return self._arrancar([os.path.join(self.dir, "plugin-tornavo")])

    def _arrancar(self, orden):
        """Starts `orden` and gives the seconds from exec to its first answered /status."""
        entorno = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=self.dir)
        inicio = time.perf_counter()
        self.proc = subprocess.Popen(orden, cwd=self.dir, env=entorno, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        while True:
            try:
                if b"200 OK" in get(self.puerto, "/status"):
                    return time.perf_counter() - inicio
            except OSError:
                pass
            if self.proc.poll() is not None:
                raise RuntimeError(f"{os.path.basename(orden[0])} ended at start-up")
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


class Flujo:
    """A GET /balanza/eventos held open: the events' JSON documents, one at a time."""

    def __init__(self, puerto):
        self.s = socket.create_connection(("127.0.0.1", puerto), timeout=10)
        self.s.sendall(f"GET /balanza/eventos HTTP/1.1\r\nHost: localhost\r\nAccept: text/event-stream\r\n"
                       f"Origin: {ORIGEN}\r\n\r\n".encode())
        self.pendiente = b""

    def evento(self):
        while True:
            fin = self.pendiente.find(b"\n\n")
            if fin >= 0:
                bloque, self.pendiente = self.pendiente[:fin], self.pendiente[fin + 2:]
                for linea in bloque.split(b"\n"):
                    if linea.startswith(b"data: "):
                        return json.loads(linea[6:])
                continue
            d = self.s.recv(65536)
            if not d:
                raise RuntimeError("the stream ended")
            self.pendiente += d

    def cerrar(self):
        self.s.close()


def ordenar(proc, orden):
    proc.stdin.write(orden + "\n")
    proc.stdin.flush()
    respuesta = proc.stdout.readline().strip()
    if respuesta != "ok":
        raise RuntimeError(f"{orden}: {respuesta}")


def recibidos(informe):
    with open(informe) as f:
        for linea in f:
            if linea.startswith("recibidos:"):
                return int(linea.split()[1])
    return 0


def medir_flujo(binario, simulada):
    print("Scale events (IntervaloBalanza=100, scale answering after 30 ms)", flush=True)
    intervalo, demora = 100, 30
    proc, dispositivo = simulador(simulada, "--protocolo", "SYSTEL1", "--peso", "1", "--demora", str(demora))
    agente = Agente(binario,
                    f"Comportamiento=NORMAL\nDispositivoBalanza={dispositivo}\nIntervaloBalanza={intervalo}\n")
    try:
        agente.iniciar()
        flujo = Flujo(agente.puerto)
        while flujo.evento()["peso"] != "1.000":
            pass
        tiempos = []
        for i in range(200):
            # A change at any moment of the schedule, not in step with it.
            time.sleep(random.uniform(0, intervalo / 1000))
            peso = f"{2 + i / 1000:.3f}"
            inicio = time.perf_counter()
            ordenar(proc, f"peso {peso}")
            while flujo.evento()["peso"] != peso:
                pass
            tiempos.append((time.perf_counter() - inicio) * 1000)
        flujo.cerrar()
        tiempos.sort()
        p99 = tiempos[int(len(tiempos) * 0.99) - 1]
        limite = intervalo + demora + 5
        fila("evento tras un cambio de peso: mediana", statistics.median(tiempos), "ms", "", True)
        fila("evento tras un cambio de peso: percentil 99", p99, "ms", f"≤ {limite}", p99 <= limite)
    finally:
        agente.detener()
        proc.kill()
        proc.wait()

    informe = tempfile.mktemp(prefix="tornavo-informe-")
    proc, dispositivo = simulador(simulada, "--protocolo", "SYSTEL1", "--peso", "2", "--informe", informe)
    agente = Agente(binario, f"Comportamiento=NORMAL\nDispositivoBalanza={dispositivo}\n")
    flujos = []
    try:
        agente.iniciar()
        flujos.append(Flujo(agente.puerto))
        flujos[0].evento()
        antes, inicio = recibidos(informe), time.perf_counter()
        time.sleep(5)
        conUno = (recibidos(informe) - antes) / (time.perf_counter() - inicio)
        for _ in range(7):
            flujos.append(Flujo(agente.puerto))
            flujos[-1].evento()
        antes, cpu, inicio = recibidos(informe), cpu_s(agente.proc.pid), time.perf_counter()
        time.sleep(10)
        transcurrido = time.perf_counter() - inicio
        uso = (cpu_s(agente.proc.pid) - cpu) / transcurrido * 100
        conOcho = (recibidos(informe) - antes) / transcurrido
        fila("CPU con ocho oyentes, balanza estable", uso, "% de un núcleo", "≤ 2", uso <= 2)
        fila("bytes en la línea, ocho oyentes / uno", conOcho / conUno, "×", "= 1 (±5 %)",
             abs(conOcho / conUno - 1) <= 0.05)
    finally:
        for f in flujos:
            f.cerrar()
        agente.detener()
        proc.kill()
        proc.wait()
        if os.path.exists(informe):
            os.remove(informe)


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


def cups_acepta(cups, carpeta, pdf, veces):
    """What CUPS itself takes, in ms, to accept `pdf` on the Tickets queue from libcups in this process (no HTTP, no
    Base64): the part of the agent's answer to a print that waits for the scheduler."""
    libcups = ctypes.CDLL(ctypes.util.find_library("cups"))
    libcups.cupsPrintFile.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                                      ctypes.c_void_p]
    libcups.cupsSetServer.argtypes = [ctypes.c_char_p]
    libcups.cupsSetServer(cups.socket.encode())  # libcups keeps the first scheduler it was told of
    documento = os.path.join(carpeta, "directo.pdf")
    with open(documento, "wb") as f:
        f.write(pdf)
    tiempos = []
    for _ in range(veces):
        inicio = time.perf_counter()
        if libcups.cupsPrintFile(b"Tickets", documento.encode(), b"directo", 0, None) <= 0:
            raise RuntimeError("cupsPrintFile")
        tiempos.append((time.perf_counter() - inicio) * 1000)
    return tiempos


def medir_documentos(binario, repeticiones):
    print("Large documents (20 MB PDF through POST /print-base64, to the bench's own CUPS queue)", flush=True)
    carpeta = tempfile.mkdtemp(prefix="tornavo-pdf-")
    # The answer comes once CUPS has taken the whole document: a queue of the bench's own takes it, as a printer would.
    cups = Cups()
    os.environ["CUPS_SERVER"] = cups.socket
    try:
        pdf = pdf_de(20 * 1000 * 1000)
        archivo = os.path.join(carpeta, "cuerpo.json")
        with open(archivo, "wb") as f:
            f.write(b'{"base64":"' + base64.b64encode(pdf) + b'","nombreImpresora":"Tickets"}')
        tamano = os.path.getsize(archivo)
        agente = Agente(binario)
        nginx = Nginx("ok")
        try:
            agente.iniciar()
            reposo = rss_kb(agente.proc.pid)
            # A print that failed would answer at once and say nothing of the work: the first one must succeed.
            prueba = subprocess.run(["curl", "-s", "-H", f"Origin: {ORIGEN}", "-H", "Content-Type: application/json",
                                     "--data-binary", f"@{archivo}", f"http://127.0.0.1:{agente.puerto}/print-base64"],
                                    capture_output=True, check=True).stdout
            if b'"success":true' not in prueba:
                raise RuntimeError(prueba)
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
            directos = cups_acepta(cups, carpeta, pdf, repeticiones)
            cocientes = [a / b for a, b in zip(propios, ajenos)]
            fila("nginx: recibir el cuerpo (curl)", ajenos, "ms", "referencia", True)
            fila("CUPS acepta el PDF de libcups (cupsPrintFile)", directos, "ms", "", True)
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
        cups.detener()
        os.environ.pop("CUPS_SERVER", None)
        shutil.rmtree(carpeta, ignore_errors=True)


class Cups:
    """A CUPS scheduler of the bench's own (never the system's), with one raw queue on a socket:// device whose
    listener drains every job, as a network label printer on port 9100 would, and one queue that takes PDFs and
    throws them away."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tornavo-cups-")
        os.chmod(self.dir, 0o755)
        for sub in ("etc/ppd", "state", "cache", "spool/tmp", "log"):
            os.makedirs(os.path.join(self.dir, sub))
        os.chmod(os.path.join(self.dir, "spool/tmp"), 0o1777)
        self.socket = os.path.join(self.dir, "cups.sock")
        with open(os.path.join(self.dir, "cupsd.conf"), "w") as f:
            f.write(f"Listen {self.socket}\nBrowsing No\nWebInterface No\nDefaultAuthType None\nMaxJobs 0\n"
                    "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                    "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n")
        with open(os.path.join(self.dir, "cups-files.conf"), "w") as f:
            d = self.dir
            f.write(f"ServerRoot {d}/etc\nStateDir {d}/state\nCacheDir {d}/cache\nRequestRoot {d}/spool\n"
                    f"TempDir {d}/spool/tmp\nAccessLog {d}/log/access_log\nErrorLog {d}/log/error_log\n"
                    f"PageLog {d}/log/page_log\nSystemGroup root\n")
        self.entorno = dict(os.environ, CUPS_SERVER=self.socket)
        self.entorno.pop("PRINTER", None)
        self.entorno.pop("LPDEST", None)
        self.oyente = socket.socket()
        self.oyente.bind(("127.0.0.1", 0))
        self.oyente.listen(128)
        threading.Thread(target=self._drenar, daemon=True).start()
        self.proc = subprocess.Popen(["/usr/sbin/cupsd", "-f", "-c", os.path.join(self.dir, "cupsd.conf"), "-s",
                                      os.path.join(self.dir, "cups-files.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(500):
            if subprocess.run(["lpstat", "-r"], env=self.entorno, capture_output=True).returncode == 0:
                break
            time.sleep(0.01)
        subprocess.run(["lpadmin", "-p", "Etiquetas", "-E", "-v",
                        f"socket://127.0.0.1:{self.oyente.getsockname()[1]}"], env=self.entorno, check=True)
        subprocess.run(["lpadmin", "-p", "Tickets", "-E", "-v", "file:///dev/null"], env=self.entorno, check=True)

    def _drenar(self):
        while True:
            conexion, _ = self.oyente.accept()
            while conexion.recv(65536):
                pass
            conexion.close()

    def detener(self):
        self.proc.terminate()
        self.proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


def medir_impresion(binario, repeticiones):
    print("Raw printing, job status and a ticket PDF (private CUPS scheduler, raw queue on a socket:// device)",
          flush=True)
    cups = Cups()
    os.environ["CUPS_SERVER"] = cups.socket
    agente = Agente(binario)
    carpeta = tempfile.mkdtemp(prefix="tornavo-raw-")
    try:
        agente.iniciar()
        etiqueta = (b"^XA^FO50,50^A0N,40,40^FDTornavo^FS^BY2^FO50,120^BCN,80,Y,N,N^FD0123456789^FS^XZ\n" * 30)[:2048]
        crudo = os.path.join(carpeta, "etiqueta.zpl")
        with open(crudo, "wb") as f:
            f.write(etiqueta)
        cuerpo = os.path.join(carpeta, "cuerpo.json")
        with open(cuerpo, "wb") as f:
            f.write(b'{"base64":"' + base64.b64encode(etiqueta) + b'","nombreImpresora":"Etiquetas"}')
        propios, ajenos = [], []
        for _ in range(repeticiones * 10):
            inicio = time.perf_counter()
            subprocess.run(["lp", "-d", "Etiquetas", "-o", "raw", crudo], env=cups.entorno, check=True,
                           stdout=subprocess.DEVNULL)
            ajenos.append((time.perf_counter() - inicio) * 1000)
            t, _, codigo = curl_post(f"http://127.0.0.1:{agente.puerto}/print-raw", cuerpo)
            if codigo != "200":
                raise RuntimeError(codigo)
            propios.append(t * 1000)
        fila("etiqueta de 2 KB: lp -o raw", ajenos, "ms", "referencia", True)
        fila("etiqueta de 2 KB: respuesta de /print-raw (curl)", propios, "ms", "", True)
        cociente = statistics.median(propios) / statistics.median(ajenos)
        fila("/print-raw / lp -o raw (medianas)", cociente, "×", "≤ 1 (ideal ≤ 0.5)", cociente <= 1)

        for _ in range(100 - len(propios)):
            curl_post(f"http://127.0.0.1:{agente.puerto}/print-raw", cuerpo)
        estado, trabajos, cocientes = [], [], []
        for _ in range(repeticiones):
            estado.append(wrk(agente.puerto))
            trabajos.append(wrk(agente.puerto, "/trabajos/50"))
            cocientes.append(trabajos[-1] / estado[-1])
        fila("agente /status, 100 trabajos recordados", estado, "req/s", "referencia", True)
        fila("agente /trabajos/<id>", trabajos, "req/s", "", True)
        fila("/trabajos/<id> / /status", cocientes, "×", "≥ 0.5", statistics.median(cocientes) >= 0.5)

        # A ticket PDF: the agent answers once CUPS has accepted the whole document and told the job's number.
        ticket = os.path.join(carpeta, "ticket.json")
        with open(ticket, "wb") as f:
            f.write(b'{"base64":"' + base64.b64encode(pdf_de(100 * 1000)) + b'","nombreImpresora":"Tickets"}')
        prueba = subprocess.run(["curl", "-s", "-H", f"Origin: {ORIGEN}", "-H", "Content-Type: application/json",
                                 "--data-binary", f"@{ticket}", f"http://127.0.0.1:{agente.puerto}/print-base64"],
                                capture_output=True, check=True).stdout
        if b'"success":true' not in prueba:
            raise RuntimeError(prueba)
        nginx = Nginx("ok")
        try:
            propios, ajenos = [], []
            for _ in range(repeticiones * 10):
                t, _, _ = curl_post(f"http://127.0.0.1:{nginx.puerto}/descartar", ticket)
                ajenos.append(t * 1000)
                t, _, codigo = curl_post(f"http://127.0.0.1:{agente.puerto}/print-base64", ticket)
                if codigo != "200":
                    raise RuntimeError(codigo)
                propios.append(t * 1000)
        finally:
            nginx.detener()
        directos = cups_acepta(cups, carpeta, pdf_de(100 * 1000), repeticiones * 10)
        fila("ticket PDF de 100 KB: nginx recibe el cuerpo (curl)", ajenos, "ms", "referencia", True)
        fila("ticket PDF de 100 KB: CUPS lo acepta de libcups (cupsPrintFile)", directos, "ms", "", True)
        fila("ticket PDF de 100 KB: respuesta de /print-base64 (curl)", propios, "ms", "", True)
        cociente = statistics.median(propios) / statistics.median(ajenos)
        fila("/print-base64 / nginx (medianas)", cociente, "×", "≤ 1.5", cociente <= 1.5)
        cociente = statistics.median(propios) / statistics.median(directos)
        fila("/print-base64 / cupsPrintFile (medianas)", cociente, "×", "", True)
    finally:
        agente.detener()
        cups.detener()
        os.environ.pop("CUPS_SERVER", None)
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


AJENO = "https://otro.example"


def tamano_logs(agente):
    carpeta = os.path.join(agente.dir, "logs")
    return sum(os.path.getsize(os.path.join(carpeta, n)) for n in os.listdir(carpeta)) if os.path.isdir(carpeta) else 0


def latencias_status(puerto, segundos, cada=0.1):
    """/status asked on a fresh connection every `cada` seconds: the time of each, connection to last byte, in ms."""
    tiempos = []
    fin = time.perf_counter() + segundos
    while time.perf_counter() < fin:
        inicio = time.perf_counter()
        try:
            respuesta = get(puerto, "/status")
            tiempos.append((time.perf_counter() - inicio) * 1000 if b"200 OK" in respuesta else 30000.0)
        except OSError:
            tiempos.append(30000.0)
        time.sleep(max(0.0, cada - (time.perf_counter() - inicio)))
    return tiempos


def p95(valores):
    ordenados = sorted(valores)
    return ordenados[max(0, int(len(ordenados) * 0.95) - 1)]


def cuerpos_rechazados(puerto, cantidad, largo, retener, alto):
    """`cantidad` parallel POSTs from a refused origin, each declaring and sending `largo` bytes of non-UTF-8 body
    (all but the last byte when `retener`); each keeps its connection until `alto` is set."""
    cuerpo = memoryview(b"\xff" * (largo - 1 if retener else largo))
    cabeza = (f"POST /print-base64 HTTP/1.1\r\nHost: localhost\r\nOrigin: {AJENO}\r\n"
              f"Content-Length: {largo}\r\n\r\n").encode()

    def uno():
        try:
            with socket.create_connection(("127.0.0.1", puerto), timeout=60) as s:
                s.sendall(cabeza)
                try:
                    s.sendall(cuerpo)
                except OSError:
                    pass
                alto.wait(60)
        except OSError:
            pass

    hilos = [threading.Thread(target=uno, daemon=True) for _ in range(cantidad)]
    for h in hilos:
        h.start()
    return hilos


def goteo(puerto, cantidad, inicio, byte, cada, alto):
    """`cantidad` connections that send `inicio` and then one `byte` every `cada` seconds, reconnecting when dropped."""
    import selectors
    sockets = []

    def abrir():
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", puerto))
        return [s, False]

    def correr():
        for _ in range(cantidad):
            sockets.append(abrir())
        while not alto.is_set():
            for entrada in sockets:
                s, enviado = entrada
                try:
                    if not enviado:
                        if inicio:
                            s.send(inicio)
                        entrada[1] = True
                    elif byte:
                        s.send(byte)
                    else:
                        if s.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b"":
                            raise ConnectionResetError()
                except BlockingIOError:
                    pass
                except OSError:
                    s.close()
                    entrada[:] = abrir()
            alto.wait(cada)
        for s, _ in sockets:
            s.close()

    hilo = threading.Thread(target=correr, daemon=True)
    hilo.start()
    return hilo


def reconectadores(puerto, cantidad, alto):
    """`cantidad` idle connections, each opened again as soon as the agent drops it."""
    import selectors
    sel = selectors.DefaultSelector()

    def abrir():
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", puerto))
        sel.register(s, selectors.EVENT_READ)

    def correr():
        for _ in range(cantidad):
            abrir()
        while not alto.is_set():
            for clave, _ in sel.select(0.05):
                s = clave.fileobj
                try:
                    datos = s.recv(4096)
                except BlockingIOError:
                    continue
                except OSError:
                    datos = b""
                if not datos:
                    sel.unregister(s)
                    s.close()
                    abrir()
        for clave in list(sel.get_map().values()):
            clave.fileobj.close()

    hilo = threading.Thread(target=correr, daemon=True)
    hilo.start()
    return hilo


def en_proceso(lanzar, puerto):
    """Runs a flood in a child process of its own, so that its sockets do not hold up the measuring thread; returns
    the process and the event that stops it."""
    ctx = multiprocessing.get_context("fork")
    alto = ctx.Event()

    def correr():
        hilos = lanzar(puerto, alto)
        for h in hilos if isinstance(hilos, list) else [hilos]:
            h.join()

    proceso = ctx.Process(target=correr, daemon=True)
    proceso.start()
    return proceso, alto


def medir_ataques_una_vez(binario, anotar):
    """The floods of an attack run, each against a fresh agent: memory held for refused traffic, /status meanwhile,
    and what a refusal flood writes to the log."""

    # Refused bodies: 50 parallel 60 MB non-UTF-8 bodies; then 20 with their last byte withheld, held for 5 s.
    for cantidad, retener in ((50, False), (20, True)):
        agente = Agente(binario)
        try:
            agente.iniciar()
            time.sleep(1)
            reposo = rss_kb(agente.proc.pid)
            proceso, alto = en_proceso(
                lambda puerto, alto: cuerpos_rechazados(puerto, cantidad, 60 * 1000 * 1000, retener, alto),
                agente.puerto)
            tiempos = latencias_status(agente.puerto, 5)
            retenido = (rss_kb(agente.proc.pid) - reposo) / 1024
            alto.set()
            proceso.join(70)
            pico = (rss_kb(agente.proc.pid, "VmHWM") - reposo) / 1024
            nombre = f"{cantidad} cuerpos de 60 MB rechazados" + (", último byte retenido" if retener else "")
            anotar(nombre + ": memoria pico sobre reposo", pico, "MiB", "≤ 64", pico <= 64)
            if retener:
                anotar(nombre + ": memoria retenida a los 5 s", retenido, "MiB", "≤ 64", retenido <= 64)
            anotar(nombre + ": /status, mediana", statistics.median(tiempos), "ms", "≤ 100",
                 statistics.median(tiempos) <= 100)
            anotar(nombre + ": /status, máximo", max(tiempos), "ms", "≤ 100", max(tiempos) <= 100)
        finally:
            agente.detener()

    lento = (f"POST /print-base64 HTTP/1.1\r\nHost: localhost\r\nOrigin: {ORIGEN}\r\n"
             f"Content-Length: 1000000\r\n\r\n").encode()
    floods = (
        ("120 conexiones, un byte de cuerpo cada 0,9 s",
         lambda puerto, alto: goteo(puerto, 120, lento, b"x", 0.9, alto)),
        ("120 conexiones, un byte de cabecera cada 0,2 s",
         lambda puerto, alto: goteo(puerto, 120, b"G", b"E", 0.2, alto)),
        ("1.000 conexiones ociosas que reconectan", lambda puerto, alto: reconectadores(puerto, 1000, alto)),
    )
    for nombre, lanzar in floods:
        agente = Agente(binario)
        try:
            agente.iniciar()
            proceso, alto = en_proceso(lanzar, agente.puerto)
            # Its first second, asked more often: the onset, when every slot changes hands at once.
            arranque = latencias_status(agente.puerto, 1, cada=0.02)
            time.sleep(2)
            tiempos = latencias_status(agente.puerto, 10)
            alto.set()
            proceso.join(15)
            anotar(nombre + ": primer segundo, /status, máximo", max(arranque), "ms", "≤ 100", max(arranque) <= 100)
            anotar(nombre + ": /status, mediana", statistics.median(tiempos), "ms", "≤ 100",
                 statistics.median(tiempos) <= 100)
            anotar(nombre + ": /status, percentil 95", p95(tiempos), "ms", "≤ 100", p95(tiempos) <= 100)
            anotar(nombre + ": /status, máximo", max(tiempos), "ms", "≤ 100", max(tiempos) <= 100)
            lentas = sum(1 for t in tiempos if t > 100)
            anotar(nombre + ": /status sobre 100 ms (de unas 100)", lentas, "solicitudes", "0", lentas == 0)
        finally:
            agente.detener()

    # A refusal flood: 10 s of wrk from a refused origin.
    agente = Agente(binario)
    try:
        agente.iniciar()
        antes = tamano_logs(agente)
        salida = subprocess.run(["wrk", "-t2", "-c50", "-d10s", "-H", "Connection: close", "-H", f"Origin: {AJENO}",
                                 f"http://127.0.0.1:{agente.puerto}/status"], capture_output=True, text=True,
                                check=True).stdout
        tasa = next(float(l.split()[1]) for l in salida.splitlines() if l.startswith("Requests/sec:"))
        escrito = (tamano_logs(agente) - antes) / (1024 * 1024)
        anotar("10 s de rechazos (wrk -c50): solicitudes por segundo", tasa, "req/s", "", True)
        anotar("10 s de rechazos: log escrito", escrito, "MiB", "", True)
    finally:
        agente.detener()


def medir_ataques(binario, repeticiones):
    """Each figure over `repeticiones` runs of every flood; a target is checked on the median."""
    print("Floods", flush=True)
    filas = {}

    def anotar(nombre, valor, unidad, objetivo, cumple):
        filas.setdefault(nombre, (unidad, objetivo, []))[2].append(valor)
        print(f"  {nombre}: {valor:.4g} {unidad}", flush=True)

    for _ in range(repeticiones):
        medir_ataques_una_vez(binario, anotar)
    for nombre, (unidad, objetivo, valores) in filas.items():
        mediana = statistics.median(valores)
        if objetivo.startswith("≤ "):
            cumple = mediana <= float(objetivo[2:])
        elif objetivo == "0":
            cumple = mediana == 0
        else:
            cumple = True
        fila(nombre, valores, unidad, objetivo, cumple)


class ReferenciaQt(Agente):
    """The bare Qt program (bench/referencia_qt.cpp): a shown 461 x 318 window and a QTcpServer answering."""

    def iniciar(self):
        return self._arrancar([os.path.join(self.dir, os.path.basename(self.binario)), str(self.puerto)])


def medir_arranque(binario, referencia, veces):
    print("Start-up (exec to the first answered /status), against a bare Qt program, alternating", flush=True)
    propios, ajenos, cocientes = [], [], []
    for _ in range(veces):
        for lista, clase, programa in ((ajenos, ReferenciaQt, referencia), (propios, Agente, binario)):
            proceso = clase(programa)
            try:
                lista.append(proceso.iniciar() * 1000)
            finally:
                proceso.detener()
        cocientes.append(propios[-1] / ajenos[-1])
    fila("arranque, programa Qt mínimo", ajenos, "ms", "referencia", True)
    fila("arranque, agente", propios, "ms", "≤ 30", statistics.median(propios) <= 30)
    cociente = statistics.median(propios) / statistics.median(ajenos)
    fila("arranque agente / Qt mínimo (medianas)", cociente, "×", "≤ 1.2", cociente <= 1.2)


def medir_llamadas(binario, solicitudes=2000):
    """System calls of every thread of the agent while ab sends `solicitudes` /status, divided by their number."""
    print(f"System calls per /status (strace -c -f, ab -n {solicitudes} -c 10)", flush=True)
    agente = Agente(binario)
    agente.iniciar()
    resumen = os.path.join(agente.dir, "strace.txt")
    traza = subprocess.Popen(["strace", "-c", "-f", "-o", resumen, "-p", str(agente.proc.pid)],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)  # attached to every thread
        subprocess.run(["ab", "-q", "-n", str(solicitudes), "-c", "10", "-H", f"Origin: {ORIGEN}",
                        f"http://127.0.0.1:{agente.puerto}/status"], check=True, stdout=subprocess.DEVNULL)
        traza.send_signal(signal.SIGINT)
        traza.wait(30)
        detalle = {}
        with open(resumen) as f:
            for linea in f:
                campos = linea.split()
                if len(campos) >= 5 and campos[-1] != "total" and campos[0][0].isdigit() and campos[3].isdigit():
                    detalle[campos[-1]] = int(campos[3])
        total = sum(detalle.values()) / solicitudes
        partes = ", ".join(f"{n} {v / solicitudes:.2g}" for n, v in sorted(detalle.items(), key=lambda x: -x[1]))
        print(f"    {partes}", flush=True)
        fila("llamadas al sistema por /status", total, "", "≤ 14", total <= 14)
    finally:
        if traza.poll() is None:
            traza.kill()
        agente.detener()


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--binario", default=os.path.join(RAIZ, "build/release/bin/plugin-tornavo"))
    p.add_argument("--referencia", default=os.path.join(RAIZ, "build/release/bin/referencia-qt"))
    p.add_argument("--simulada", default=os.path.join(RAIZ, "build/release/bin/balanza-simulada"))
    p.add_argument("--repeticiones", type=int, default=3)
    p.add_argument("--solo", nargs="*",
                   default=["rendimiento", "llamadas", "peso", "flujo", "documentos", "huella", "arranque", "ataques",
                            "impresion"],
                   help="which to run; 'resistencia' (1,000,000 requests) only runs when named")
    p.add_argument("--total", type=int, default=1000000, help="requests of the soak run")
    a = p.parse_args()
    if "rendimiento" in a.solo:
        medir_rendimiento(a.binario, a.repeticiones)
    if "llamadas" in a.solo:
        medir_llamadas(a.binario)
    if "peso" in a.solo:
        medir_peso(a.binario, a.simulada)
    if "flujo" in a.solo:
        medir_flujo(a.binario, a.simulada)
    if "documentos" in a.solo:
        medir_documentos(a.binario, a.repeticiones)
    if "huella" in a.solo:
        medir_huella(a.binario, a.repeticiones)
    if "arranque" in a.solo:
        medir_arranque(a.binario, a.referencia, 30)
    if "resistencia" in a.solo:
        medir_resistencia(a.binario, a.total)
    if "ataques" in a.solo:
        medir_ataques(a.binario, a.repeticiones)
    if "impresion" in a.solo:
        medir_impresion(a.binario, a.repeticiones)

    print()
    print("| Medida | min | mediana | max | unidad | objetivo | cumple |")
    print("|---|---|---|---|---|---|---|")
    for f in FILAS:
        print("| " + " | ".join(f) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
