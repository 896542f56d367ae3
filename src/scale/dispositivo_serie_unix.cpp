#include "scale/dispositivo_serie.h"

#include <QFileInfo>

QString DispositivoDelPuerto(qint16 numero, const QString& dispositivoConfigurado)
{
    if (!dispositivoConfigurado.isEmpty()) {
        return dispositivoConfigurado;
    }
    if (numero < 1) {
        return QString();
    }
    // The first serial port (COM1) is ttyS0.
    return QStringLiteral("/dev/ttyS%1").arg(numero - 1);
}

bool EsElDispositivo(const QString& nombre, const QString& ruta, const QString& dispositivo)
{
    if (dispositivo == ruta || dispositivo == nombre) {
        return true;
    }
    // /dev/serial/by-id/... and other links name the same device.
    const QString real = QFileInfo(dispositivo).canonicalFilePath();
    return !real.isEmpty() && real == QFileInfo(ruta).canonicalFilePath();
}
