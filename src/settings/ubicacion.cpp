#include "settings/ubicacion.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

QString Ubicacion::CarpetaLogs() const
{
    return QDir(carpetaDatos).filePath(QStringLiteral("logs"));
}

QString Ubicacion::Descripcion() const
{
    QStringList leidas;
    for (const QString& ruta : configuraciones) {
        leidas << QDir::toNativeSeparators(ruta);
    }
    return QStringLiteral("Configuración leída de %1 (%2); registro en %3")
        .arg(leidas.join(QStringLiteral(" y ")),
             instalada ? QStringLiteral("instalación") : QStringLiteral("carpeta portátil"),
             QDir::toNativeSeparators(CarpetaLogs()));
}

EntornoUbicacion EntornoDelSistema(const QString& carpetaPrograma)
{
    EntornoUbicacion e;
    e.carpetaPrograma = carpetaPrograma;
    e.sistema = CarpetasDelSistema();
    e.esArchivo = [](const QString& ruta) { return QFileInfo(ruta).isFile(); };
    // Permission bits do not tell (Windows folders are guarded by ACLs): only creating a file does.
    e.carpetaEscribible = [](const QString& carpeta) {
        QTemporaryFile prueba(QDir(carpeta).filePath(QStringLiteral(".plugin-tornavo-XXXXXX")));
        return prueba.open();
    };
    return e;
}

Ubicacion ElegirUbicacion(const EntornoUbicacion& entorno)
{
    Ubicacion u;
    const QString junto = QDir(entorno.carpetaPrograma).filePath(QStringLiteral("config.ini"));
    if (entorno.esArchivo(junto)) {
        u.configuraciones << junto;
        u.carpetaDatos = entorno.carpetaPrograma;
        return u;
    }
    const bool maquina = entorno.esArchivo(entorno.sistema.configMaquina);
    const bool usuario = entorno.esArchivo(entorno.sistema.configUsuario);
    if (!maquina && !usuario && entorno.carpetaEscribible(entorno.carpetaPrograma)) {
        u.carpetaDatos = entorno.carpetaPrograma;
        return u;
    }
    u.instalada = true;
    if (maquina) {
        u.configuraciones << entorno.sistema.configMaquina;
    }
    if (usuario) {
        u.configuraciones << entorno.sistema.configUsuario;
    }
    u.carpetaDatos = entorno.sistema.datosUsuario;
    return u;
}
