#include "http/estado.h"

#include "base/texto.h"
#include "settings/version.h"

namespace {

QString DosCifras(qint32 valor)
{
    const QString cifras = QString::number(valor < 0 ? -static_cast<qint64>(valor) : valor).rightJustified(2, u'0');
    return valor < 0 ? QStringLiteral("-") + cifras : cifras;
}

QDateTime AlSegundo(const QDateTime& momento)
{
    return momento.addMSecs(-momento.time().msec());
}

} // namespace

QString FormatearUptime(qint32 segundos)
{
    const qint32 dias = segundos / 86400;
    const qint32 horas = (segundos % 86400) / 3600;
    const qint32 minutos = (segundos % 3600) / 60;
    const qint32 resto = segundos % 60;
    return QString::number(dias) + QStringLiteral("d ") + DosCifras(horas) + u':' + DosCifras(minutos) + u':' +
           DosCifras(resto);
}

DocumentoEstado::DocumentoEstado(const Configuracion& cfg, Puerto puerto, Reloj reloj)
    : m_cfg(cfg)
    , m_puerto(std::move(puerto))
    , m_reloj(std::move(reloj))
{
}

QString DocumentoEstado::ObtenerEstado()
{
    if (!m_horaInicio.isValid()) {
        m_horaInicio = AlSegundo(QDateTime::fromMSecsSinceEpoch(m_reloj()));
    }
    const QDateTime ahora = QDateTime::fromMSecsSinceEpoch(m_reloj());
    const qint64 transcurridos = m_horaInicio.secsTo(AlSegundo(ahora));
    const auto segundos = static_cast<qint32>(qBound(qint64(INT32_MIN), transcurridos, qint64(INT32_MAX)));
    const QString hora = ahora.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));

    // Settings are escaped so that a quote or backslash in config.ini cannot break the document.
    QString doc;
    doc.reserve(256);
    doc += QLatin1String("{\"status\":\"ok\",\"version\":\"");
    doc += ObtenerVersion();
    doc += QLatin1String("\",\"servidor\":\"Tornavo\",\"MODE\":\"");
    doc += EscaparJSON(m_cfg.MODE);
    doc += QLatin1String("\",\"hora\":\"");
    doc += hora;
    doc += QLatin1String("\",\"uptime\":\"");
    doc += FormatearUptime(segundos);
    doc += QLatin1String("\",\"puerto\":\"");
    doc += QString::number(m_puerto ? m_puerto() : m_cfg.PuertoHTTP);
    doc += QLatin1String("\",\"protocolo_balanza\":\"");
    doc += EscaparJSON(m_cfg.ProtocoloBalanza);
    doc += QLatin1String("\",\"puerto_balanza\":\"");
    doc += QString::number(m_cfg.PortBalanza);
    doc += QLatin1String("\"}");
    return doc;
}
