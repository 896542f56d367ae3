// Types of the Plugin Tornavo's client module.

export type CodigoError =
  | 'no-disponible'
  | 'bloqueado'
  | 'origen-rechazado'
  | 'tiempo-agotado'
  | 'demasiado-grande'
  | 'documento-ilegible'
  | 'agente'
  | 'balanza';

export declare class ErrorPlugin extends Error {
  constructor(codigo: CodigoError, mensaje: string, opciones?: { estado?: number; respuesta?: unknown; causa?: unknown });
  readonly name: 'ErrorPlugin';
  /** What went wrong, for a page to switch on; `message` says it in Spanish, ready to show. */
  readonly codigo: CodigoError;
  /** HTTP status of the agent's answer; 0 when there was none. */
  readonly estado: number;
  /** The agent's answer: parsed JSON when it was JSON (for 'balanza', the reading, whose `estado` says what failed),
   *  else its text. */
  readonly respuesta: unknown;
  /** The browser's own error, when there was one. */
  readonly causa: unknown;
}

/** A document to send: its bytes, or its Base64 (a `data:...;base64,` prefix is allowed). Bytes in an ArrayBuffer or
 *  a view are read while the call runs: leave them unchanged until it ends. */
export type Documento = Blob | ArrayBuffer | ArrayBufferView | string;

export type Codificacion = 'utf-8' | 'latin1' | 'iso-8859-1' | 'windows-1252' | 'cp437' | 'cp850';

export interface Estado {
  status: string;
  version: string;
  servidor: string;
  MODE: string;
  hora: string;
  uptime: string;
  puerto: string;
  protocolo_balanza: string;
  puerto_balanza: string;
  [clave: string]: string;
}

export interface DetalleImpresora {
  nombre: string;
  predeterminada: boolean;
  estado: 'lista' | 'imprimiendo' | 'detenida' | 'desconocido';
  motivo: string;
  papeles: string[];
  bandejas: string[];
  duplex: boolean;
  color: boolean;
}

export interface Lectura {
  peso: string;
  kg: number | null;
  estado: 'ok' | 'sin respuesta' | 'ilegible' | 'error';
  estable: boolean | null;
  protocolo: string;
  hora: string;
  edadMs: number;
  detalle?: string;
}

export interface OpcionesPdf {
  /** A name from impresoras(), or 'PREDETERMINADA' (the default). */
  impresora?: string;
  copias?: number;
  /** Page ranges, e.g. "1-3,5". */
  paginas?: string;
  orientacion?: 'vertical' | 'horizontal';
  escala?: 'ajustar' | 'reducir' | 'real';
  duplex?: 'no' | 'largo' | 'corto';
  color?: 'color' | 'monocromo';
  papel?: string;
  bandeja?: string;
}

export interface OpcionesRaw {
  impresora?: string;
  /** Shown in the printer's queue. */
  nombreTrabajo?: string;
  /** With a text, its encoding; without one, a text is Base64. */
  codificacion?: Codificacion;
}

export interface Impresion {
  success: true;
  impresora: string;
  /** The job's id, for trabajo() and esperarTrabajo(); absent from agents without job status. */
  trabajo?: string;
}

export interface EnvioCsv {
  success: true;
  mensaje: string;
}

export interface Trabajo {
  trabajo: string;
  impresora: string;
  estado: 'enviado' | 'en cola' | 'imprimiendo' | 'terminado' | 'fallido' | 'cancelado' | 'desconocido';
  detalle: string;
  hora: string;
}

export interface Puerto {
  nombre: string;
  /** The device's path, e.g. /dev/ttyUSB0 or \\.\COM3. */
  ruta: string;
  descripcion: string;
  fabricante: string;
  /** USB vendor and product ids in hex; null when the port is not USB. */
  vid: string | null;
  pid: string | null;
  configurado: boolean;
}

export type Permiso = 'concedido' | 'preguntar' | 'denegado' | 'no-aplica';

/** What alLlamar gets after every HTTP call. */
export interface Llamada {
  metodo: 'GET' | 'POST';
  ruta: string;
  /** HTTP status; 0 without an answer. */
  estado: number;
  ms: number;
  /** The body sent, its Base64 replaced by its length. */
  enviado?: Record<string, unknown>;
  texto: string;
  error?: ErrorPlugin;
}

export interface OpcionesPlugin {
  /** The agent's address; 'http://localhost:9999' by default. */
  url?: string;
  /** Longest wait for one call, in milliseconds (30000 by default; 0 waits for ever). */
  tiempoMs?: number;
  alLlamar?: (llamada: Llamada) => void;
}

export declare class PluginTornavo {
  constructor(opciones?: OpcionesPlugin);
  readonly url: string;
  tiempoMs: number;
  alLlamar?: (llamada: Llamada) => void;

  estado(): Promise<Estado>;
  /** 'PREDETERMINADA' first, then every installed printer. */
  impresoras(): Promise<string[]>;
  detalleImpresoras(): Promise<DetalleImpresora[]>;
  /** The bare weight text of /pesoBalanza, e.g. "12.345"; 'balanza' when the scale is silent, unreadable or its
   *  port unusable (a zero or ERR is checked against /balanza, so a silent scale is never a zero). */
  peso(): Promise<string>;
  balanza(): Promise<Lectura>;
  /** A reading whose `estable` says whether the weight settled in time. */
  pesoEstable(): Promise<Lectura>;
  /** Live readings, one stream shared by every tab of this browser; returns the function that stops listening. */
  escucharBalanza(alCambiar: (lectura: Lectura) => void, alFallar?: (error: ErrorPlugin) => void): () => void;
  imprimirPdf(documento: Documento, opciones?: OpcionesPdf): Promise<Impresion>;
  imprimirRaw(bytes: Documento, opciones?: OpcionesRaw): Promise<Impresion>;
  trabajo(id: string): Promise<Trabajo>;
  /** Resolves with the job in its final state (a failed job too); 'tiempo-agotado' after hastaMs (60000). */
  esperarTrabajo(id: string, opciones?: { hastaMs?: number }): Promise<Trabajo>;
  /** The CSV's bytes (a CSV text: `new Blob([texto])`), stored under nombreArchivo ('archivo.csv' when empty). */
  enviarCsv(documento: Documento, nombreArchivo?: string): Promise<EnvioCsv>;
  puertos(): Promise<Puerto[]>;
  permiso(): Promise<Permiso>;
}

export default PluginTornavo;
