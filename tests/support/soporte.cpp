#include "support/soporte.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>

#include <algorithm>
#include <memory>

namespace soporte {

QString UnicaRespuesta(const std::function<void(std::function<void(const QString&)>)>& pedir, int msEspera)
{
    // Shared with the callback, which may still come after a wait that gave up.
    auto respuestas = std::make_shared<QStringList>();
    pedir([respuestas](const QString& r) { *respuestas << r; });
    if (msEspera > 0) {
        static_cast<void>(QTest::qWaitFor([&] { return !respuestas->isEmpty(); }, msEspera));
    }
    if (respuestas->isEmpty()) {
        return QStringLiteral("<sin respuesta>");
    }
    return respuestas->size() == 1 ? respuestas->first() : QStringLiteral("<%1 respuestas>").arg(respuestas->size());
}

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

DiscoPequeno::DiscoPequeno(qint64 tamano)
{
    if (!m_carpeta.isValid()) {
        return;
    }
    QProcess montar;
    montar.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                           QStringLiteral("size=%1").arg(tamano), QStringLiteral("tmpfs"), Ruta()});
    m_montado = montar.waitForFinished(10000) && montar.exitStatus() == QProcess::NormalExit && montar.exitCode() == 0;
}

DiscoPequeno::~DiscoPequeno()
{
    if (m_montado) {
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), Ruta()});
    }
}

bool DiscoPequeno::Llenar(qint64 libres)
{
    QFile relleno(QDir(Ruta()).filePath(QStringLiteral(".relleno")));
    if (!m_montado || !relleno.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return false;
    }
    const QByteArray bloque(4096, 'r');
    while (relleno.write(bloque) == bloque.size()) {
    }
    return relleno.resize(std::max<qint64>(0, relleno.size() - libres));
}

CarpetaSoloLectura::CarpetaSoloLectura(const QString& carpeta)
    : m_carpeta(carpeta)
{
    QProcess montar;
    montar.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                           QStringLiteral("ro,size=64k"), QStringLiteral("tmpfs"), carpeta});
    m_montado = montar.waitForFinished(10000) && montar.exitStatus() == QProcess::NormalExit && montar.exitCode() == 0;
}

CarpetaSoloLectura::~CarpetaSoloLectura()
{
    if (m_montado) {
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_carpeta});
    }
}

} // namespace soporte
