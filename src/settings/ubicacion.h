#pragma once

#include "settings/carpetas_sistema.h"

#include <QString>
#include <QStringList>

#include <functional>

// Where the agent reads its settings and writes its files.
//
// Portable: a config.ini beside the executable; that file is read, and logs/ and the received PDF go beside the
// executable too. Installed: no config.ini beside the executable, and either a machine-wide or a per-user
// config.ini exists or the executable's folder cannot be written; the machine-wide file is read, then the
// per-user one overrides it key by key, and logs/ and the received PDF go to the user's data folder. A writable
// folder with no config.ini anywhere is a portable folder whose config.ini is missing.
struct Ubicacion
{
    bool instalada = false;
    QStringList configuraciones; // the config.ini files to read, in order, later keys overriding earlier ones
    QString carpetaDatos;        // holds logs/ and the received PDF

    bool HayConfiguracion() const { return !configuraciones.isEmpty(); }
    QString CarpetaLogs() const;
    // The start-up line: which config.ini was read and where the logs go.
    QString Descripcion() const;
};

// What the rule looks at; the real file system by default, anything in tests.
struct EntornoUbicacion
{
    QString carpetaPrograma;
    CarpetasSistema sistema;
    std::function<bool(const QString&)> esArchivo;         // an ordinary file exists at this path
    std::function<bool(const QString&)> carpetaEscribible; // this folder accepts a new file
};

EntornoUbicacion EntornoDelSistema(const QString& carpetaPrograma);
Ubicacion ElegirUbicacion(const EntornoUbicacion& entorno);
