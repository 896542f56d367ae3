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

bool EsElDispositivo(const QString& nombre, const QString& ruta, const QString& dispositivo)
{
    // Device names are not case-sensitive, and \\.\COM3 is COM3.
    QString buscado = dispositivo;
    if (buscado.startsWith(QLatin1String("\\\\.\\"))) {
        buscado = buscado.mid(4);
    }
    return buscado.compare(nombre, Qt::CaseInsensitive) == 0 || dispositivo.compare(ruta, Qt::CaseInsensitive) == 0;
}
