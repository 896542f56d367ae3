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

} // namespace soporte
