#include "scale/protocolos.h"

#include <QStringList>

namespace {

const QString kAjustesPorDefecto = QStringLiteral("9600,n,8,1");

} // namespace

bool InterpretarAjustesLinea(const QString& texto, AjustesLinea& ajustes, QString& error)
{
    const QStringList partes = texto.split(u',');
    if (partes.size() != 4) {
        error = QStringLiteral("Ajustes de línea no válidos: %1").arg(texto);
        return false;
    }
    AjustesLinea leidos;
    bool ok = false;
    leidos.baudios = partes[0].trimmed().toInt(&ok);
    if (!ok || leidos.baudios <= 0) {
        error = QStringLiteral("Velocidad no válida: %1").arg(partes[0]);
        return false;
    }
    const QString paridad = partes[1].trimmed().toLower();
    if (paridad.size() != 1 || !QStringLiteral("neoms").contains(paridad)) {
        error = QStringLiteral("Paridad no válida: %1").arg(partes[1]);
        return false;
    }
    leidos.paridad = paridad.at(0).toLatin1();
    leidos.bitsDatos = partes[2].trimmed().toInt(&ok);
    if (!ok || leidos.bitsDatos < 5 || leidos.bitsDatos > 8) {
        error = QStringLiteral("Bits de datos no válidos: %1").arg(partes[2]);
        return false;
    }
    const QString parada = partes[3].trimmed();
    if (parada == QLatin1String("1")) {
        leidos.bitsParada = 1;
    } else if (parada == QLatin1String("2")) {
        leidos.bitsParada = 2;
    } else if (parada == QLatin1String("1.5")) {
        leidos.bitsParada = 3;
    } else {
        error = QStringLiteral("Bits de parada no válidos: %1").arg(partes[3]);
        return false;
    }
    ajustes = leidos;
    return true;
}

PerfilPuerto PerfilDelProtocolo(const QString& protocolo)
{
    const QString nombre = protocolo.toUpper();
    if (nombre == QLatin1String("KRETZ")) {
        return {QStringLiteral("9600,n,8,2"), 8, true};
    }
    if (nombre == QLatin1String("SYSTEL1") || nombre == QLatin1String("SYSTEL2")) {
        return {kAjustesPorDefecto, 8, true};
    }
    if (nombre == QLatin1String("SYSTEL3")) {
        return {kAjustesPorDefecto, 7, true};
    }
    return {kAjustesPorDefecto, 8, false};
}

Sondeo SondeoDelProtocolo(const QString& protocolo)
{
    const QString nombre = protocolo.toUpper();
    const QByteArray campana(1, '\x07');
    if (nombre == QLatin1String("SYSTEL1")) {
        return {campana, 1, 8};
    }
    if (nombre == QLatin1String("SYSTEL2")) {
        return {campana, 2, 8};
    }
    if (nombre == QLatin1String("SYSTEL3")) {
        return {campana, 1, 7};
    }
    if (nombre == QLatin1String("KRETZ")) {
        return {QByteArrayLiteral("P"), 1, 8};
    }
    return {QByteArray(), 0, 8};
}
