#include "scale/dispositivo_serie.h"

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
