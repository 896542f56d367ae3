#include "settings/carpetas_sistema.h"

#include <QDir>
#include <QStandardPaths>

CarpetasSistema CarpetasDelSistema()
{
    const QString nombre = QStringLiteral("/Plugin Tornavo");
    // ProgramData is readable by every user and written by administrators (the installer), unlike the user's
    // folders or Program Files, which users cannot write.
    const QString programData =
        QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData", QStringLiteral("C:\\ProgramData")));
    CarpetasSistema c;
    c.configMaquina = programData + nombre + QStringLiteral("/config.ini");
    // Both under %LOCALAPPDATA%: settings and logs of one machine do not roam with the user.
    c.configUsuario = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + nombre +
                      QStringLiteral("/config.ini");
    c.datosUsuario = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + nombre;
    c.datosCsv = QStringLiteral("C:/tornavo/");
    c.programaQendra = QStringLiteral("C:/Qendra/Qendra.exe");
    return c;
}
