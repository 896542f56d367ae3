#pragma once

#include "settings/configuracion.h"

#include <QList>
#include <QString>

#include <optional>

// One serial port of the machine, as the system lists it.
struct PuertoListado
{
    QString nombre; // COM3, ttyUSB0
    QString ruta;   // the device's path (\\.\COM3, /dev/ttyUSB0)
    QString descripcion;
    QString fabricante;
    std::optional<quint16> vid;
    std::optional<quint16> pid;
};

// The system's serial ports.
QList<PuertoListado> PuertosDelSistema();

// The GET /puertos document: {"puertos":[{"nombre":..,"ruta":..,"descripcion":..,"fabricante":..,"vid":"067b",
// "pid":"2303","configurado":true}]}; the port the settings name marked. A DispositivoBalanza the list lacks (a
// pseudo-terminal, a link) is added at the end, marked, so the page always sees what the agent opens.
QString DocumentoPuertos(const QList<PuertoListado>& puertos, const Configuracion& cfg);
