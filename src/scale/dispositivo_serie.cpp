// The only place where a port number becomes a platform device name.
#include "dispositivo_serie.h"

QString DispositivoDelPuerto(qint16 numero, const QString& dispositivoConfigurado)
{
    if (!dispositivoConfigurado.isEmpty()) {
        return dispositivoConfigurado;
    }
    if (numero < 1) {
        return QString();
    }
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(numero);
#else
    // The first serial port (COM1) is ttyS0.
    return QStringLiteral("/dev/ttyS%1").arg(numero - 1);
#endif
}
