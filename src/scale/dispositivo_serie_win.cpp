#include "scale/dispositivo_serie.h"

QString DispositivoDelPuerto(qint16 numero, const QString& dispositivoConfigurado)
{
    if (!dispositivoConfigurado.isEmpty()) {
        return dispositivoConfigurado;
    }
    if (numero < 1) {
        return QString();
    }
    return QStringLiteral("COM%1").arg(numero);
}
