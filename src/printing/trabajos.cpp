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

TablaTrabajos::TablaTrabajos(Spooler* spooler, Reloj reloj)
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

bool TablaTrabajos::Actualizar(const QString& id, Trabajo& t, qint64 ahora, Responder& responder)
{
    if (m_spooler == nullptr || EsEstadoFinal(t.estado) || t.esperaId ||
        (t.consultadoAlgunaVez && ahora - t.consultado < kIntervaloMs)) {
        return false;
    }
    if (t.idSpooler.isEmpty()) {
        if (t.documento.isEmpty()) {
            return false;
        }
        if (ahora - t.creado > kBusquedaMs) {
            t.documento.clear();
            Cambiar(t, EstadoTrabajo::Desconocido, QString(), ahora);
            return false;
        }
        // One query a round: the job found now is asked for its state the next time.
        t.consultado = ahora;
        t.consultadoAlgunaVez = true;
        t.idSpooler = m_spooler->BuscarPorDocumento(t.cola, t.documento);
        return false;
    }
    t.consultado = ahora;
    t.consultadoAlgunaVez = true;
    // Waiting before the question: a spooler may answer before it returns.
    m_esperan[id].append(std::move(responder));
    m_spooler->Consultar(t.cola, t.idSpooler, [this, id, vivo = std::weak_ptr<bool>(m_vivo)](const InfoTrabajo& info) {
        if (!vivo.expired()) {
            Respondido(id, info);
        }
    });
    return true;
}

void TablaTrabajos::Respondido(const QString& id, const InfoTrabajo& info)
{
    if (const auto t = m_trabajos.find(id); t != m_trabajos.end()) {
        Cambiar(*t, info.estado, info.detalle, m_reloj());
    }
    for (const Responder& responder : m_esperan.take(id)) {
        responder(Respuesta(id));
    }
}

void TablaTrabajos::Consultar(const QString& id, Responder responder)
{
    // While the spooler is asked about the job, its answer serves everyone.
    if (const auto espera = m_esperan.find(id); espera != m_esperan.end()) {
        espera->append(std::move(responder));
        return;
    }
    const qint64 ahora = m_reloj();
    Retirar(ahora);
    if (const auto t = m_trabajos.find(id); t != m_trabajos.end() && Actualizar(id, *t, ahora, responder)) {
        return;
    }
    responder(Respuesta(id));
}

QString TablaTrabajos::Respuesta(const QString& id)
{
    Retirar(m_reloj());
    const auto t = m_trabajos.find(id);
    if (t == m_trabajos.end()) {
        EscribirLog(QStringLiteral("? Trabajo no encontrado: ") + ParaLog(id));
        return QStringLiteral("{\"success\":false,\"error\":\"Trabajo no encontrado: ") + EscaparJSON(id) +
               QStringLiteral("\"}");
    }
    return QStringLiteral("{\"trabajo\":\"") + id + QStringLiteral("\",\"impresora\":\"") + EscaparJSON(t->impresora) +
           QStringLiteral("\",\"estado\":\"") + NombreEstado(t->estado) + QStringLiteral("\",\"detalle\":\"") +
           EscaparJSON(t->detalle) + QStringLiteral("\",\"hora\":\"") +
           QDateTime::fromMSecsSinceEpoch(t->cambio).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral("\"}");
}

void Spooler::Impresoras(AlSaberImpresoras alSaber)
{
    alSaber(std::nullopt);
}

std::unique_ptr<EnvioDirecto> Spooler::AbrirPDF(const QString&, const QString&, const QStringList&, QString& motivo)
{
    motivo = QStringLiteral("el spooler no recibe documentos PDF");
    return nullptr;
}
