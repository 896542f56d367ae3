// Client of the Plugin Tornavo for the web application: one method per route of the agent, every failure an
// ErrorPlugin with a code to switch on and a Spanish message ready to show. No dependencies, no build step.

const URL_POR_DEFECTO = 'http://localhost:9999';
const TIEMPO_POR_DEFECTO_MS = 30000;
const TIEMPO_SONDEO_MS = 3000;
// Base64 is made a piece at a time, each piece a Blob of its own, the page's other tasks running whenever the module
// has held it for TURNO_MS. A multiple of 3, so that the pieces join without padding in between. Smaller pieces
// would not shorten the turns much (even a small Blob costs the page about a millisecond), and fetch holds the page
// for hundreds of milliseconds over a body of a thousand Blobs. A Blob is read two pieces at a time.
const PIEZA_BASE64 = 192 * 1024;
const LECTURA = 2 * PIEZA_BASE64;
const TURNO_MS = 4;
// A read of a Blob's byte stream that has not answered by then is left for slices (see lecturasDeBlob).
const ESPERA_FLUJO_MS = 2000;
// A Blob made of other Blobs costs the page a fraction of a millisecond for each of them, all at once (over 30 ms
// for the 200 pieces of a 40 MB document): they are joined GRUPO at a time as they come.
const GRUPO = 8;
const PAUSA_TRABAJO_MS = 500;
const ESTADOS_FINALES = ['terminado', 'fallido', 'cancelado', 'desconocido'];
const REINTENTO_FLUJO_MS = 3000;
const AVISO_FLUJO_MS = 1000;

const MENSAJES = {
  'no-disponible': (url) => `No se pudo contactar con el Plugin Tornavo en ${url}. ¿Está en marcha?`,
  'bloqueado': () => (globalThis.isSecureContext
    ? 'El navegador bloqueó el acceso al Plugin Tornavo. Permita a este sitio acceder a las aplicaciones y ' +
      'servicios de este dispositivo (el icono a la izquierda de la dirección).'
    : 'El navegador bloquea el acceso al Plugin Tornavo desde una página servida por HTTP: la aplicación debe ' +
      'servirse por HTTPS.'),
  'origen-rechazado': () => `El Plugin Tornavo rechazó esta página (${globalThis.location?.origin ?? 'sin origen'}): ` +
    'solo admite las páginas de la aplicación web.',
  'tiempo-agotado': (ms) => `El Plugin Tornavo no respondió en ${ms} ms.`,
  'demasiado-grande': () => 'El documento es demasiado grande para el Plugin Tornavo (admite unos 45 MB).',
  'documento-ilegible': () => 'No se pudo leer el documento: el archivo cambió o ya no está donde se eligió. ' +
    'Elíjalo de nuevo.',
};

export class ErrorPlugin extends Error {
  constructor(codigo, mensaje, { estado = 0, respuesta, causa } = {}) {
    super(mensaje);
    this.name = 'ErrorPlugin';
    this.codigo = codigo;
    this.estado = estado;
    this.respuesta = respuesta;
    this.causa = causa;
  }
}

// What a failed reading means, by /pesoBalanza's text or the reading's estado; `respuesta` keeps the reading.
const FALLOS_BALANZA = {
  'sin respuesta': 'La balanza no respondió: compruebe que esté encendida y conectada al puerto configurado.',
  'ilegible': 'La balanza respondió, pero su respuesta no se pudo leer: compruebe su protocolo en la configuración.',
  'error': 'El Plugin Tornavo no pudo usar el puerto de la balanza: compruebe que esté conectada y que el puerto ' +
    'configurado sea el suyo.',
  'ERR': 'La balanza no respondió, o su respuesta no se pudo leer.',
  'ERROR': 'El Plugin Tornavo no pudo usar el puerto de la balanza: compruebe que esté conectada y que el puerto ' +
    'configurado sea el suyo.',
};

function errorDeBalanza(lectura) {
  const clave = typeof lectura === 'string' ? lectura : lectura.estado;
  let mensaje = FALLOS_BALANZA[clave] ?? `Estado de la balanza desconocido: ${clave}.`;
  if (typeof lectura === 'object' && lectura.detalle) {
    mensaje += ` (${lectura.detalle})`;
  }
  return new ErrorPlugin('balanza', mensaje, { estado: 200, respuesta: lectura });
}

// Single-byte code pages of receipt and label printers: the characters of bytes 0x80 to 0xFF.
const PAGINAS = {
  'cp437': 'ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀' +
    'αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0',
  'cp850': 'ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜø£Ø×ƒáíóúñÑªº¿®¬½¼¡«»░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦╠═╬¤ðÐÊËÈıÍÎÏ┘┌█▄¦Ì▀' +
    'ÓßÔÒõÕµþÞÚÛÙýÝ¯´\u00ad±‗¾¶§÷¸°¨·¹³²■\u00a0',
  'windows-1252': '€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008dŽ\u008f\u0090‘’“”•–—˜™š›œ\u009džŸ' +
    Array.from({ length: 96 }, (_, i) => String.fromCharCode(0xa0 + i)).join(''),
  'latin1': Array.from({ length: 128 }, (_, i) => String.fromCharCode(0x80 + i)).join(''),
};
const tablas = new Map();

function codificarTexto(texto, codificacion) {
  const nombre = String(codificacion).toLowerCase();
  if (nombre === 'utf-8' || nombre === 'utf8') {
    return new TextEncoder().encode(texto);
  }
  const pagina = PAGINAS[nombre === 'iso-8859-1' ? 'latin1' : nombre];
  if (pagina === undefined) {
    throw new TypeError(`Codificación no admitida: ${codificacion} (utf-8, latin1, windows-1252, cp437, cp850).`);
  }
  if (!tablas.has(nombre)) {
    tablas.set(nombre, new Map(Array.from(pagina, (c, i) => [c, 0x80 + i])));
  }
  const tabla = tablas.get(nombre);
  const bytes = [];
  for (const c of texto) {
    const codigo = c.codePointAt(0);
    // A character the page cannot show prints as '?', as the printers' own drivers do.
    bytes.push(codigo < 0x80 ? codigo : tabla.get(c) ?? 0x3f);
  }
  return Uint8Array.from(bytes);
}

function pausa(ms) {
  return new Promise((listo) => setTimeout(listo, ms));
}

// Lets the page's other tasks run, in their order: a zero setTimeout would wait 4 ms once nested, and
// scheduler.yield() would come back before the page's own tasks.
const turnos = [];
let canalTurnos;
function ceder() {
  if (!canalTurnos) {
    canalTurnos = new MessageChannel();
    canalTurnos.port1.onmessage = () => {
      turnos.shift()();
      if (turnos.length === 0) {
        canalTurnos.port1.unref?.(); // under Node, the channel keeps the process alive only while awaited
      }
    };
  }
  canalTurnos.port1.ref?.();
  return new Promise((seguir) => {
    turnos.push(seguir);
    canalTurnos.port2.postMessage(0);
  });
}

const ALFABETO_BASE64 = new TextEncoder().encode(
  'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/');

// Base64 written as bytes, not as a string: 40 MB of strings left for the collector cost the page pauses of tens of
// milliseconds, and a Blob takes the bytes as they are. Into `salida` when given (a Blob copies what it is made of,
// so one buffer serves every piece: each buffer left behind costs the collector when it frees it, all in one go).
function aBase64(bytes, salida = new Uint8Array(Math.ceil(bytes.length / 3) * 4)) {
  const a = ALFABETO_BASE64;
  const enteros = bytes.length - (bytes.length % 3);
  let j = 0;
  for (let i = 0; i < enteros; i += 3) {
    const n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    salida[j] = a[n >>> 18];
    salida[j + 1] = a[(n >>> 12) & 63];
    salida[j + 2] = a[(n >>> 6) & 63];
    salida[j + 3] = a[n & 63];
    j += 4;
  }
  if (enteros < bytes.length) {
    const dos = enteros + 1 < bytes.length;
    const n = (bytes[enteros] << 16) | (dos ? bytes[enteros + 1] << 8 : 0);
    salida[j] = a[n >>> 18];
    salida[j + 1] = a[(n >>> 12) & 63];
    salida[j + 2] = dos ? a[(n >>> 6) & 63] : 61; // '='
    salida[j + 3] = 61;
    j += 4;
  }
  return salida.subarray(0, j);
}

// Blobs in order, joined GRUPO at a time: niveles[0] holds the latest, each higher level Blobs of GRUPO of the level
// below, earlier in the document.
class Piezas {
  niveles = [[]];

  agregar(parte) {
    this.niveles[0].push(parte);
  }

  // Joins one full level into a Blob of the next; false when none is full.
  unirUna() {
    const n = this.niveles.findIndex((nivel) => nivel.length === GRUPO);
    if (n < 0) {
      return false;
    }
    (this.niveles[n + 1] ??= []).push(new Blob(this.niveles[n]));
    this.niveles[n] = [];
    return true;
  }

  // What is left, earliest first: a few Blobs for each level.
  todas() {
    return [...this.niveles].reverse().flat();
  }
}

const errorDeLectura = (causa) => new ErrorPlugin('documento-ilegible', MENSAJES['documento-ilegible'](), { causa });

// Bytes desde..hasta of the page's Blob, in a new buffer. A File changed or removed on disk since the page read its
// size fails here, in the browser's English.
async function leerTrozo(documento, desde, hasta) {
  try {
    return new Uint8Array(await documento.slice(desde, hasta).arrayBuffer());
  } catch (causa) {
    throw errorDeLectura(causa);
  }
}

// One read of a byte stream into `vista`; null when it has not answered within ESPERA_FLUJO_MS.
async function leerConPlazo(lector, vista) {
  let temporizador;
  const plazo = new Promise((listo) => {
    temporizador = setTimeout(listo, ESPERA_FLUJO_MS, null);
  });
  try {
    return await Promise.race([lector.read(vista), plazo]);
  } catch (causa) {
    throw errorDeLectura(causa);
  } finally {
    clearTimeout(temporizador);
  }
}

// The Blob LECTURA bytes at a time (the last fewer), each valid only until the next is asked for. Read through its
// byte stream into one buffer, handed to the stream and back: read by slices, a new buffer each, a 40 MB Blob held the
// page 50 to 90 ms at once in most runs. Where the browser has no byte streams, or a read does not answer (in
// Chromium 156 the first read of a fresh 40 MB Blob sometimes never did), the rest is read by slices.
async function* lecturasDeBlob(documento) {
  let desde = 0;
  let lector = null;
  try {
    lector = documento.stream().getReader({ mode: 'byob' });
  } catch {
    // Slices only.
  }
  let buffer = new ArrayBuffer(LECTURA);
  while (lector && desde < documento.size) {
    let lleno = 0;
    let fin = false;
    while (!fin && lleno < LECTURA) {
      const leido = await leerConPlazo(lector, new Uint8Array(buffer, lleno));
      if (leido === null) {
        // The buffer went with the read; this piece is read again by slices.
        lector.cancel().catch(() => {});
        lector = null;
        break;
      }
      if (leido.value) {
        buffer = leido.value.buffer;
        lleno += leido.value.byteLength;
      }
      fin = leido.done;
    }
    if (!lector || lleno === 0) {
      break;
    }
    yield new Uint8Array(buffer, 0, lleno);
    desde += lleno;
  }
  for (; desde < documento.size; desde += LECTURA) {
    yield await leerTrozo(documento, desde, desde + LECTURA);
  }
}

// An array's bytes where they are, LECTURA at a time: a Blob of them would copy them all in one go, holding the page.
function* lecturasDeBytes(bytes) {
  for (let desde = 0; desde < bytes.length; desde += LECTURA) {
    yield bytes.subarray(desde, desde + LECTURA);
  }
}

// The document's Base64 as Blobs, a piece at a time: no long string is ever built, and the page keeps running
// between pieces. A text is taken as Base64 already (a "data:...;base64," prefix is dropped).
async function base64EnPiezas(documento) {
  if (typeof documento === 'string') {
    const coma = documento.startsWith('data:') ? documento.indexOf(',') : -1;
    return { piezas: [documento.slice(coma + 1)], largo: documento.length - coma - 1 };
  }
  let lecturas;
  if (documento instanceof Blob) {
    lecturas = lecturasDeBlob(documento);
  } else if (documento instanceof ArrayBuffer || ArrayBuffer.isView(documento)) {
    lecturas = lecturasDeBytes(documento instanceof ArrayBuffer ? new Uint8Array(documento)
      : new Uint8Array(documento.buffer, documento.byteOffset, documento.byteLength));
  } else {
    throw new TypeError('El documento debe ser un Blob, un File, un ArrayBuffer, un Uint8Array o un texto Base64.');
  }
  let turno = performance.now();
  const libre = async () => {
    if (performance.now() - turno >= TURNO_MS) {
      await ceder();
      turno = performance.now();
    }
  };
  const piezas = new Piezas();
  const salida = new Uint8Array((PIEZA_BASE64 / 3) * 4);
  let largo = 0;
  for await (const leido of lecturas) {
    for (let i = 0; i < leido.length; i += PIEZA_BASE64) {
      await libre();
      const base64 = aBase64(leido.subarray(i, i + PIEZA_BASE64), salida);
      largo += base64.length;
      await libre();
      piezas.agregar(new Blob([base64]));
      do {
        await libre();
      } while (piezas.unirUna());
    }
  }
  // The body and fetch's start, a few milliseconds of their own, in a turn of their own.
  await libre();
  return { piezas: piezas.todas(), largo };
}

// The JSON body {"base64":"...", ...otros} as a Blob made of the pieces.
async function cuerpoConDocumento(documento, otros) {
  const { piezas, largo } = await base64EnPiezas(documento);
  const resto = JSON.stringify(otros);
  const cola = resto === '{}' ? '"}' : '",' + resto.slice(1);
  const resumen = Object.assign({ base64: `(${largo} caracteres Base64)` }, otros);
  return { cuerpo: new Blob(['{"base64":"', ...piezas, cola], { type: 'application/json' }), resumen };
}

const OPCIONES_PDF = ['copias', 'paginas', 'orientacion', 'escala', 'duplex', 'color', 'papel', 'bandeja'];

// One EventSource per browser and agent: the tab holding the lock reads the stream and passes every reading to
// the other tabs over a BroadcastChannel; when it closes or stops listening the lock passes to a waiting tab.
const difusiones = new Map();

function difusionPara(url) {
  let d = difusiones.get(url);
  if (d) {
    return d;
  }
  d = { url, oyentes: new Set(), fuente: null, ultima: undefined, canal: null, soltar: null, cancelar: null };
  difusiones.set(url, d);
  const compartible = typeof BroadcastChannel === 'function' && globalThis.navigator?.locks;
  if (!compartible) {
    // Without Web Locks (a page that is not a secure context) each tab reads its own stream.
    abrirFlujo(d);
    return d;
  }
  const nombre = `plugin-tornavo:balanza:${url}`;
  d.canal = new BroadcastChannel(nombre);
  const yo = Math.random().toString(36).slice(2);
  d.canal.onmessage = ({ data }) => {
    if (data.tipo === 'pedir' && d.fuente && d.ultima !== undefined) {
      d.canal.postMessage({ tipo: 'lectura', lectura: d.ultima, para: data.de });
    } else if (data.tipo === 'lectura' && !d.fuente && (data.para === undefined || data.para === yo)) {
      d.ultima = data.lectura;
      repartir(d, data.lectura);
    } else if (data.tipo === 'fallo' && !d.fuente) {
      fallar(d, new ErrorPlugin(data.codigo, data.mensaje, { estado: data.estado }));
    }
  };
  const control = new AbortController();
  d.cancelar = () => control.abort();
  navigator.locks.request(nombre, { signal: control.signal }, () => new Promise((soltar) => {
    d.soltar = soltar;
    if (difusiones.get(url) === d) {
      abrirFlujo(d);
    } else {
      soltar();
    }
  })).catch(() => {});
  d.canal.postMessage({ tipo: 'pedir', de: yo });
  return d;
}

function abrirFlujo(d) {
  const fuente = new EventSource(`${d.url}/balanza/eventos`);
  d.fuente = fuente;
  fuente.onmessage = (evento) => {
    let lectura;
    try {
      lectura = JSON.parse(evento.data);
    } catch {
      return;
    }
    d.ultima = lectura;
    d.canal?.postMessage({ tipo: 'lectura', lectura });
    repartir(d, lectura);
  };
  fuente.onerror = () => {
    // Told only if the stream is still down a moment later: a page going away breaks its stream too, and its
    // timers never run.
    setTimeout(() => {
      if (d.fuente !== fuente || fuente.readyState === EventSource.OPEN) {
        return;
      }
      const error = new ErrorPlugin('no-disponible', MENSAJES['no-disponible'](d.url));
      d.canal?.postMessage({ tipo: 'fallo', codigo: error.codigo, mensaje: error.message, estado: 0 });
      fallar(d, error);
      if (fuente.readyState === EventSource.CLOSED) {
        // Refused (403, 503): EventSource gives up on an answer that is not a stream; try again later.
        setTimeout(() => d.fuente === fuente && abrirFlujo(d), REINTENTO_FLUJO_MS);
      }
    }, AVISO_FLUJO_MS);
  };
}

function repartir(d, lectura) {
  for (const { alCambiar, alFallar } of d.oyentes) {
    if (lectura.estado === 'ok') {
      alCambiar(lectura);
    } else if (alFallar) {
      alFallar(errorDeBalanza(lectura));
    }
  }
}

function fallar(d, error) {
  for (const { alFallar } of d.oyentes) {
    alFallar?.(error);
  }
}

function dejarDeDifundir(d) {
  d.fuente?.close();
  d.fuente = null;
  d.soltar?.();
  d.cancelar?.();
  d.canal?.close();
  difusiones.delete(d.url);
}

export class PluginTornavo {
  constructor({ url = URL_POR_DEFECTO, tiempoMs = TIEMPO_POR_DEFECTO_MS, alLlamar } = {}) {
    this.url = String(url).replace(/\/+$/, '');
    this.tiempoMs = tiempoMs;
    this.alLlamar = alLlamar;
  }

  // One HTTP call. Answers the body as text, or throws an ErrorPlugin.
  async #llamar(ruta, { cuerpo, resumen } = {}) {
    const metodo = cuerpo === undefined ? 'GET' : 'POST';
    const opciones = { method: metodo, cache: 'no-store' };
    if (cuerpo !== undefined) {
      opciones.headers = { 'Content-Type': 'application/json' };
      opciones.body = cuerpo;
    }
    const inicio = performance.now();
    const aviso = { metodo, ruta, estado: 0, ms: 0, enviado: resumen, texto: '', error: undefined };
    try {
      const { estado, texto } = await this.#pedir(ruta, opciones, this.tiempoMs);
      aviso.estado = estado;
      aviso.texto = texto;
      return this.#juzgar(ruta, estado, texto);
    } catch (e) {
      aviso.error = e instanceof ErrorPlugin ? e : undefined;
      if (e instanceof ErrorPlugin && e.codigo === 'red') {
        aviso.error = await this.#diagnosticar(metodo, e.causa);
        throw aviso.error;
      }
      throw e;
    } finally {
      aviso.ms = Math.round(performance.now() - inicio);
      this.alLlamar?.(aviso);
    }
  }

  async #pedir(ruta, opciones, tiempoMs) {
    const control = new AbortController();
    const temporizador = tiempoMs > 0 ? setTimeout(() => control.abort(), tiempoMs) : 0;
    try {
      const respuesta = await fetch(this.url + ruta, { ...opciones, signal: control.signal });
      return { estado: respuesta.status, texto: await respuesta.text() };
    } catch (e) {
      if (control.signal.aborted) {
        throw new ErrorPlugin('tiempo-agotado', MENSAJES['tiempo-agotado'](tiempoMs), { causa: e });
      }
      throw new ErrorPlugin('red', String(e), { causa: e });
    } finally {
      clearTimeout(temporizador);
    }
  }

  // fetch tells nothing of why there was no answer. A refused preflight looks like a stopped agent, so a POST is
  // followed by a plain GET, which the agent answers with 403 when it refuses the page; then the permission.
  async #diagnosticar(metodo, causa) {
    if (metodo !== 'GET') {
      try {
        const { estado, texto } = await this.#pedir('/status', { cache: 'no-store' }, TIEMPO_SONDEO_MS);
        if (estado === 403) {
          return new ErrorPlugin('origen-rechazado', MENSAJES['origen-rechazado'](), { causa, respuesta: texto });
        }
      } catch {
        // No answer either: decided below.
      }
    }
    if ((await this.permiso()) === 'denegado') {
      return new ErrorPlugin('bloqueado', MENSAJES.bloqueado(), { causa });
    }
    return new ErrorPlugin('no-disponible', MENSAJES['no-disponible'](this.url), { causa });
  }

  #juzgar(ruta, estado, texto) {
    let json;
    try {
      json = JSON.parse(texto);
    } catch {
      json = undefined;
    }
    const opciones = { estado, respuesta: json ?? texto };
    if (estado === 403) {
      throw new ErrorPlugin('origen-rechazado', MENSAJES['origen-rechazado'](), opciones);
    }
    if (estado === 413) {
      throw new ErrorPlugin('demasiado-grande', MENSAJES['demasiado-grande'](), opciones);
    }
    if (texto === 'Ruta no válida' || json?.error === 'Método o ruta no válida') {
      throw new ErrorPlugin('agente', `El Plugin Tornavo instalado no ofrece ${ruta}: actualícelo.`, opciones);
    }
    if (json && typeof json === 'object' && json.success === false) {
      throw new ErrorPlugin('agente', String(json.error ?? 'El Plugin Tornavo informó un fallo sin detalle.'), opciones);
    }
    if (estado !== 200) {
      throw new ErrorPlugin('agente', `Respuesta inesperada del Plugin Tornavo: HTTP ${estado}.`, opciones);
    }
    return { json, texto };
  }

  async #json(ruta, envio) {
    const { json, texto } = await this.#llamar(ruta, envio);
    if (json === undefined || json === null || typeof json !== 'object') {
      throw new ErrorPlugin('agente', `Respuesta inesperada del Plugin Tornavo a ${ruta}: ${texto.slice(0, 200)}`,
        { estado: 200, respuesta: texto });
    }
    return json;
  }

  async estado() {
    return this.#json('/status');
  }

  async impresoras() {
    return (await this.#json('/impresoras')).impresoras;
  }

  async detalleImpresoras() {
    return (await this.#json('/impresoras/detalle')).impresoras;
  }

  // /pesoBalanza answers "0.000" for a silent scale of the Systel family, as for an empty one, and "ERR" both for
  // a silent scale and for one that sent something unreadable: the reading of /balanza tells which.
  async peso() {
    const peso = (await this.#llamar('/pesoBalanza')).texto.trim();
    if (peso !== 'ERR' && peso !== 'ERROR' && Number(peso) !== 0) {
      return peso;
    }
    let lectura;
    try {
      lectura = await this.#json('/balanza');
    } catch (e) {
      if (e instanceof ErrorPlugin && e.codigo === 'agente') {
        // An agent without /balanza: its text is all there is.
        if (Number(peso) === 0) {
          return peso;
        }
        throw errorDeBalanza(peso);
      }
      throw e;
    }
    if (lectura.estado !== 'ok') {
      throw errorDeBalanza(lectura);
    }
    return lectura.peso;
  }

  async #lectura(ruta) {
    const lectura = await this.#json(ruta);
    if (lectura.estado !== 'ok') {
      throw errorDeBalanza(lectura);
    }
    return lectura;
  }

  balanza() {
    return this.#lectura('/balanza');
  }

  pesoEstable() {
    return this.#lectura('/balanza/estable');
  }

  escucharBalanza(alCambiar, alFallar) {
    const d = difusionPara(this.url);
    const oyente = { alCambiar, alFallar };
    d.oyentes.add(oyente);
    if (d.ultima !== undefined) {
      queueMicrotask(() => d.oyentes.has(oyente) && repartir({ oyentes: new Set([oyente]) }, d.ultima));
    }
    return () => {
      if (d.oyentes.delete(oyente) && d.oyentes.size === 0) {
        dejarDeDifundir(d);
      }
    };
  }

  async imprimirPdf(documento, opciones = {}) {
    const otros = { nombreImpresora: opciones.impresora ?? 'PREDETERMINADA' };
    for (const clave of OPCIONES_PDF) {
      if (opciones[clave] !== undefined) {
        otros[clave] = opciones[clave];
      }
    }
    return this.#json('/print-base64', await cuerpoConDocumento(documento, otros));
  }

  async imprimirRaw(bytes, opciones = {}) {
    const datos = typeof bytes === 'string' && opciones.codificacion !== undefined
      ? codificarTexto(bytes, opciones.codificacion) : bytes;
    const otros = { nombreImpresora: opciones.impresora ?? 'PREDETERMINADA' };
    if (opciones.nombreTrabajo !== undefined) {
      otros.nombreTrabajo = opciones.nombreTrabajo;
    }
    return this.#json('/print-raw', await cuerpoConDocumento(datos, otros));
  }

  async trabajo(id) {
    return this.#json(`/trabajos/${encodeURIComponent(id)}`);
  }

  // Asks for the job's state until it is final; a job that fails is an answer, not an error.
  async esperarTrabajo(id, { hastaMs = 60000 } = {}) {
    const limite = performance.now() + hastaMs;
    for (;;) {
      const trabajo = await this.trabajo(id);
      if (ESTADOS_FINALES.includes(trabajo.estado)) {
        return trabajo;
      }
      const resta = limite - performance.now();
      if (resta <= 0) {
        throw new ErrorPlugin('tiempo-agotado',
          `El trabajo ${id} no terminó en ${hastaMs} ms (estado: ${trabajo.estado}).`, { estado: 200, respuesta: trabajo });
      }
      // The last question is asked at the limit itself, not a pause before it.
      await pausa(Math.min(PAUSA_TRABAJO_MS, resta));
    }
  }

  async enviarCsv(documento, nombreArchivo = '') {
    return this.#json('/csv-base64', await cuerpoConDocumento(documento, { nombreArchivo }));
  }

  async puertos() {
    return (await this.#json('/puertos')).puertos;
  }

  // The browser's Local Network Access permission for this page. Chromium names it 'loopback-network' for calls
  // to this machine, and used 'local-network-access' before; other browsers know neither.
  async permiso() {
    const estados = { granted: 'concedido', prompt: 'preguntar', denied: 'denegado' };
    for (const name of ['loopback-network', 'local-network-access']) {
      try {
        const estado = await navigator.permissions.query({ name });
        return estados[estado.state] ?? 'no-aplica';
      } catch {
        // Unknown name here: try the next.
      }
    }
    return 'no-aplica';
  }
}

export default PluginTornavo;
