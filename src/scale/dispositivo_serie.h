#pragma once

#include <QString>

// The device behind port number `numero`: `dispositivoConfigurado` when it is not empty, otherwise COMn on Windows
// and /dev/ttyS(n-1) elsewhere. Empty when the number has no device (n < 1).
QString DispositivoDelPuerto(qint16 numero, const QString& dispositivoConfigurado);

// Whether the listed port `nombre` at `ruta` is `dispositivo` (a name or path as the settings give it).
bool EsElDispositivo(const QString& nombre, const QString& ruta, const QString& dispositivo);
