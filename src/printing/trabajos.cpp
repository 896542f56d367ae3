#include "printing/trabajos.h"

#include "base/registro.h"
#include "base/texto.h"

#include <QDateTime>

QString NombreEstado(EstadoTrabajo estado)
{
    switch (estado) {
    case EstadoTrabajo::Enviado:
        return QStringLiteral("enviado");
    case EstadoTrabajo::EnCola:
        return QStringLiteral("en cola");
    case EstadoTrabajo::Imprimiendo:
        return QStringLiteral("imprimiendo");
    case EstadoTrabajo::Terminado:
        return QStringLiteral("terminado");
    case EstadoTrabajo::Fallido:
        return QStringLiteral("fallido");
    case EstadoTrabajo::Cancelado:
        return QStringLiteral("cancelado");
    case EstadoTrabajo::Desconocido:
        break;
    }
    return QStringLiteral("desconocido");
}

bool EsEstadoFinal(EstadoTrabajo estado)
{
    return estado == EstadoTrabajo::Terminado || estado == EstadoTrabajo::Fallido || estado == EstadoTrabajo::Cancelado;
}

TablaTrabajos::TablaTrabajos(const Spooler* spooler, Reloj reloj)
    : m_spooler(spooler)
    , m_reloj(std::move(reloj))
{
}

QString TablaTrabajos::Agregar(const QString& impresora, const QString& cola, const QString& idSpooler,
                               const QString& documento)
{
    const qint64 ahora = m_reloj();
    Retirar(ahora);
    while (m_orden.size() >= kMaximo) {
        m_trabajos.remove(m_orden.takeFirst());
    }
    const QString id = QString::number(++m_siguiente);
    Trabajo t;
    t.impresora = impresora;
    t.cola = cola;
    t.idSpooler = idSpooler;
    t.documento = documento;
    t.esperaId = idSpooler.isEmpty() && documento.isEmpty();
    t.creado = ahora;
    t.cambio = ahora;
    m_trabajos.insert(id, t);
    m_orden.append(id);
    return id;
}

void TablaTrabajos::Encolado(const QString& id, const QString& idSpooler, const QString& fallo)
{
    const auto t = m_trabajos.find(id);
    if (t == m_trabajos.end()) {
        return;
    }
    t->esperaId = false;
    t->idSpooler = idSpooler;
    const qint64 ahora = m_reloj();
    if (!fallo.isEmpty()) {
        Cambiar(*t, EstadoTrabajo::Fallido, fallo, ahora);
    } else if (idSpooler.isEmpty()) {
        Cambiar(*t, EstadoTrabajo::Desconocido, QString(), ahora);
    }
}

void TablaTrabajos::Retirar(qint64 ahora)
{
    while (!m_orden.isEmpty() && ahora - m_trabajos.value(m_orden.first()).creado >= kVidaMs) {
        m_trabajos.remove(m_orden.takeFirst());
    }
}

void TablaTrabajos::Cambiar(Trabajo& t, EstadoTrabajo estado, const QString& detalle, qint64 ahora)
{
    // A finished job has no reason to show.
    const QString nuevo = estado == EstadoTrabajo::Terminado ? QString() : detalle;
    if (t.estado != estado || t.detalle != nuevo) {
        t.estado = estado;
        t.detalle = nuevo;
        t.cambio = ahora;
    }
}

void TablaTrabajos::Actualizar(Trabajo& t, qint64 ahora)
{
    if (m_spooler == nullptr || EsEstadoFinal(t.estado) || t.esperaId ||
        (t.consultadoAlgunaVez && ahora - t.consultado < kIntervaloMs)) {
        return;
    }
    if (t.idSpooler.isEmpty()) {
        if (t.documento.isEmpty()) {
            return;
        }
        if (ahora - t.creado > kBusquedaMs) {
            t.documento.clear();
            Cambiar(t, EstadoTrabajo::Desconocido, QString(), ahora);
            return;
        }
        // One query a round: the job found now is asked for its state the next time.
        t.consultado = ahora;
        t.consultadoAlgunaVez = true;
        t.idSpooler = m_spooler->BuscarPorDocumento(t.cola, t.documento);
        return;
    }
    t.consultado = ahora;
    t.consultadoAlgunaVez = true;
    const InfoTrabajo info = m_spooler->Consultar(t.cola, t.idSpooler);
    Cambiar(t, info.estado, info.detalle, ahora);
}

QString TablaTrabajos::Respuesta(const QString& id)
{
    const qint64 ahora = m_reloj();
    Retirar(ahora);
    const auto t = m_trabajos.find(id);
    if (t == m_trabajos.end()) {
        EscribirLog(QStringLiteral("? Trabajo no encontrado: ") + ParaLog(id));
        return QStringLiteral("{\"success\":false,\"error\":\"Trabajo no encontrado: ") + EscaparJSON(id) +
               QStringLiteral("\"}");
    }
    Actualizar(*t, ahora);
    return QStringLiteral("{\"trabajo\":\"") + id + QStringLiteral("\",\"impresora\":\"") + EscaparJSON(t->impresora) +
           QStringLiteral("\",\"estado\":\"") + NombreEstado(t->estado) + QStringLiteral("\",\"detalle\":\"") +
           EscaparJSON(t->detalle) + QStringLiteral("\",\"hora\":\"") +
           QDateTime::fromMSecsSinceEpoch(t->cambio).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral("\"}");
}

std::unique_ptr<EnvioDirecto> Spooler::AbrirPDF(const QString&, const QString&, const QStringList&, QString& motivo)
{
    motivo = QStringLiteral("el spooler no recibe documentos PDF");
    return nullptr;
}
