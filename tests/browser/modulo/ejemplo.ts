// Every method of the web module, as a page written in TypeScript uses it; compiled with --strict, never run.
import PluginPorDefecto, { ErrorPlugin, PluginTornavo } from 'plugin-tornavo';
import type { CodigoError, DetalleImpresora, Lectura, Llamada, Permiso, Puerto, Trabajo } from 'plugin-tornavo';

const plugin: PluginTornavo = new PluginPorDefecto({
  url: 'http://localhost:9999',
  tiempoMs: 5000,
  alLlamar: (llamada: Llamada) => console.log(llamada.metodo, llamada.ruta, llamada.estado, llamada.error?.codigo),
});

function explicar(e: unknown): string {
  if (!(e instanceof ErrorPlugin)) {
    throw e;
  }
  const codigo: CodigoError = e.codigo;
  switch (codigo) {
    case 'no-disponible':
    case 'bloqueado':
    case 'origen-rechazado':
    case 'tiempo-agotado':
    case 'demasiado-grande':
    case 'documento-ilegible':
    case 'agente':
    case 'balanza':
      return `${e.message} (${e.estado})`;
  }
}

export async function todo(pdf: File, etiqueta: string, csv: string): Promise<string[]> {
  const notas: string[] = [];
  try {
    const estado = await plugin.estado();
    notas.push(estado.version, estado.MODE);
    const nombres: string[] = await plugin.impresoras();
    const detalles: DetalleImpresora[] = await plugin.detalleImpresoras();
    notas.push(...nombres, ...detalles.map((d) => `${d.nombre} ${d.estado} ${d.papeles.join()} ${d.duplex}`));
    const peso: string = await plugin.peso();
    const lectura: Lectura = await plugin.balanza();
    const estable: Lectura = await plugin.pesoEstable();
    notas.push(peso, String(lectura.kg ?? 0), String(estable.estable));
    const detener: () => void = plugin.escucharBalanza(
      (l) => notas.push(l.peso, l.estado),
      (e) => notas.push(e.codigo, e.message),
    );
    detener();
    const impresion = await plugin.imprimirPdf(pdf, { impresora: nombres[0], copias: 2, orientacion: 'horizontal',
                                                        escala: 'real', duplex: 'largo', color: 'monocromo' });
    const etiquetaImpresa = await plugin.imprimirRaw(etiqueta, { codificacion: 'cp850', nombreTrabajo: 'Etiqueta' });
    await plugin.imprimirRaw(new Uint8Array([0x1b, 0x40]), { impresora: 'Tickets' });
    if (impresion.trabajo !== undefined) {
      const trabajo: Trabajo = await plugin.trabajo(impresion.trabajo);
      const final: Trabajo = await plugin.esperarTrabajo(trabajo.trabajo, { hastaMs: 30000 });
      notas.push(final.estado, final.detalle, etiquetaImpresa.impresora);
    }
    const envio = await plugin.enviarCsv(new Blob([csv], { type: 'text/csv' }), 'precios.csv');
    notas.push(envio.mensaje);
    const puertos: Puerto[] = await plugin.puertos();
    notas.push(...puertos.filter((p) => p.configurado).map((p) => `${p.nombre} (${p.ruta})`));
    const permiso: Permiso = await plugin.permiso();
    notas.push(permiso);
  } catch (e) {
    notas.push(explicar(e));
  }
  return notas;
}
