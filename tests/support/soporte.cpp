#include "support/soporte.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

namespace soporte {

QStringList LineasDelLog(const QString& carpetaPrograma)
{
    QFile archivo(
        QDir(carpetaPrograma)
            .filePath(
                QStringLiteral("logs/log_%1.log").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")))));
    if (!archivo.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lineas = QString::fromUtf8(archivo.readAll()).split(QStringLiteral("\r\n"));
    if (!lineas.isEmpty() && lineas.last().isEmpty()) {
        lineas.removeLast();
    }
    return lineas;
}

bool EscribirArchivo(const QString& ruta, const QByteArray& contenido)
{
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return archivo.write(contenido) == contenido.size();
}

QByteArray LeerArchivo(const QString& ruta)
{
    QFile archivo(ruta);
    return archivo.open(QIODevice::ReadOnly) ? archivo.readAll() : QByteArray();
}

quint16 PuertoLibre()
{
    QTcpServer servidor;
    servidor.listen(QHostAddress::LocalHost, 0);
    return servidor.serverPort();
}

QString CarpetaBinarios()
{
    return qEnvironmentVariable("TORNAVO_BIN_DIR");
}

void DetenerProceso(QProcess& proceso, int msEspera)
{
    if (proceso.state() == QProcess::NotRunning) {
        return;
    }
    proceso.terminate();
    EsperarFinOMatar(proceso, msEspera);
}

void EsperarFinOMatar(QProcess& proceso, int msEspera)
{
    if (proceso.state() == QProcess::NotRunning || proceso.waitForFinished(msEspera)) {
        return;
    }
    proceso.kill();
    proceso.waitForFinished(5000);
}

ArchivoTemporalDeSistema::ArchivoTemporalDeSistema(const QString& ruta, const QString& destino)
    : m_ruta(ruta)
{
    if (!QFileInfo::exists(destino)) {
        m_error = QStringLiteral("no existe ") + destino;
        return;
    }
    for (QDir carpeta = QFileInfo(ruta).absoluteDir(); !carpeta.exists();
         carpeta.setPath(QFileInfo(carpeta.path()).path())) {
        m_creadas << carpeta.path();
    }
    if (!QDir().mkpath(QFileInfo(ruta).absolutePath())) {
        m_error = QStringLiteral("no se pudo crear la carpeta de ") + ruta;
        return;
    }
    QFile::remove(ruta);
    if (!QFile::link(destino, ruta)) {
        m_error = QStringLiteral("no se pudo crear ") + ruta;
    }
}

ArchivoTemporalDeSistema::~ArchivoTemporalDeSistema()
{
    QFile::remove(m_ruta);
    for (const QString& carpeta : m_creadas) {
        QDir().rmdir(carpeta);
    }
}

} // namespace soporte
