#include "soporte.h"

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

} // namespace soporte
