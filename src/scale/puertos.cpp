#include "scale/puertos.h"

#include "base/texto.h"
#include "scale/dispositivo_serie.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

QString TextoJSON(const QString& texto)
{
    return u'"' + EscaparJSON(texto) + u'"';
}

QString IdentificadorJSON(const std::optional<quint16>& valor)
{
    return valor ? TextoJSON(QStringLiteral("%1").arg(*valor, 4, 16, QLatin1Char('0'))) : QStringLiteral("null");
}

QString PuertoJSON(const PuertoListado& puerto, bool configurado)
{
    return QStringLiteral("{\"nombre\":") + TextoJSON(puerto.nombre) + QStringLiteral(",\"ruta\":") +
           TextoJSON(puerto.ruta) + QStringLiteral(",\"descripcion\":") + TextoJSON(puerto.descripcion) +
           QStringLiteral(",\"fabricante\":") + TextoJSON(puerto.fabricante) + QStringLiteral(",\"vid\":") +
           IdentificadorJSON(puerto.vid) + QStringLiteral(",\"pid\":") + IdentificadorJSON(puerto.pid) +
           QStringLiteral(",\"configurado\":") + (configurado ? QStringLiteral("true") : QStringLiteral("false")) +
           u'}';
}

} // namespace

QList<PuertoListado> PuertosDelSistema()
{
    QList<PuertoListado> puertos;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PuertoListado puerto;
        puerto.nombre = info.portName();
        puerto.ruta = info.systemLocation();
        puerto.descripcion = info.description();
        puerto.fabricante = info.manufacturer();
        if (info.hasVendorIdentifier()) {
            puerto.vid = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            puerto.pid = info.productIdentifier();
        }
        puertos.append(puerto);
    }
    return puertos;
}

QString DocumentoPuertos(const QList<PuertoListado>& puertos, const Configuracion& cfg)
{
    const QString dispositivo = DispositivoDelPuerto(cfg.PortBalanza, cfg.DispositivoBalanza);
    QStringList elementos;
    bool hallado = false;
    for (const PuertoListado& puerto : puertos) {
        const bool configurado = !dispositivo.isEmpty() && EsElDispositivo(puerto.nombre, puerto.ruta, dispositivo);
        hallado = hallado || configurado;
        elementos << PuertoJSON(puerto, configurado);
    }
    if (!hallado && !cfg.DispositivoBalanza.isEmpty()) {
        PuertoListado propio;
        propio.nombre = QFileInfo(cfg.DispositivoBalanza).fileName();
        propio.ruta = cfg.DispositivoBalanza;
        elementos << PuertoJSON(propio, true);
    }
    return QStringLiteral("{\"puertos\":[") + elementos.join(u',') + QStringLiteral("]}");
}
