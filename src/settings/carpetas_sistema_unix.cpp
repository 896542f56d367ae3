#include "settings/carpetas_sistema.h"

#include <QDir>
#include <QStandardPaths>

CarpetasSistema CarpetasDelSistema()
{
    const QString nombre = QStringLiteral("/plugin-tornavo");
    CarpetasSistema c;
    c.configMaquina = QStringLiteral("/etc/plugin-tornavo/config.ini");
    c.configUsuario = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + nombre +
                      QStringLiteral("/config.ini");
    c.datosUsuario = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + nombre;
    c.datosCsv = QDir::homePath() + QStringLiteral("/tornavo/");
    c.programaQendra = QDir::homePath() + QStringLiteral("/Qendra/Qendra");
    return c;
}
