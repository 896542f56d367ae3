#include "cups_de_prueba.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

namespace {

QString Buscar(const QString& programa)
{
    QString ruta = QStandardPaths::findExecutable(programa);
    if (ruta.isEmpty()) {
        ruta = QStandardPaths::findExecutable(programa, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    }
    return ruta;
}

bool Escribir(const QString& ruta, const QString& texto)
{
    QFile archivo(ruta);
    return archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) && archivo.write(texto.toUtf8()) >= 0;
}

} // namespace

CupsDePrueba::~CupsDePrueba()
{
    Detener();
}

QString CupsDePrueba::Iniciar()
{
    for (const char* programa : {"cupsd", "lpadmin", "lpstat"}) {
        if (Buscar(QLatin1String(programa)).isEmpty()) {
            return QStringLiteral("falta %1 (paquetes cups y cups-client)").arg(QLatin1String(programa));
        }
    }
    if (!m_carpeta.isValid()) {
        return QStringLiteral("no se pudo crear la carpeta temporal");
    }
    const QString raiz = m_carpeta.path();
    for (const char* sub : {"etc/ppd", "spool/tmp", "cache", "state", "log", "salida"}) {
        QDir().mkpath(raiz + u'/' + QLatin1String(sub));
    }
    // The filters run as an unprivileged user: they must reach the spool and write the output folder.
    ::chmod(QFile::encodeName(raiz).constData(), 0755);
    ::chmod(QFile::encodeName(raiz + QStringLiteral("/spool/tmp")).constData(), 01777);
    ::chmod(QFile::encodeName(CarpetaSalida()).constData(), 0777);

    m_socket = raiz + QStringLiteral("/cups.sock");
    const bool escrito =
        Escribir(raiz + QStringLiteral("/cupsd.conf"), QStringLiteral("Listen %1\n"
                                                                      "Browsing No\n"
                                                                      "WebInterface No\n"
                                                                      "DefaultAuthType None\n"
                                                                      "PreserveJobFiles Yes\n"
                                                                      "<Location />\n"
                                                                      "  Order allow,deny\n"
                                                                      "  Allow all\n"
                                                                      "</Location>\n"
                                                                      "<Policy default>\n"
                                                                      "  <Limit All>\n"
                                                                      "    Order deny,allow\n"
                                                                      "  </Limit>\n"
                                                                      "</Policy>\n")
                                                           .arg(m_socket)) &&
        Escribir(raiz + QStringLiteral("/cups-files.conf"), QStringLiteral("ServerRoot %1/etc\n"
                                                                           "StateDir %1/state\n"
                                                                           "CacheDir %1/cache\n"
                                                                           "RequestRoot %1/spool\n"
                                                                           "TempDir %1/spool/tmp\n"
                                                                           "AccessLog %1/log/access_log\n"
                                                                           "ErrorLog %1/log/error_log\n"
                                                                           "PageLog %1/log/page_log\n"
                                                                           "FileDevice Yes\n"
                                                                           "SystemGroup root\n")
                                                                .arg(raiz));
    if (!escrito) {
        return QStringLiteral("no se pudo escribir la configuración de cupsd");
    }
    m_cupsd.setProgram(Buscar(QStringLiteral("cupsd")));
    m_cupsd.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), raiz + QStringLiteral("/cupsd.conf"),
                          QStringLiteral("-s"), raiz + QStringLiteral("/cups-files.conf")});
    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_cupsd.start();
    if (!m_cupsd.waitForStarted(10000)) {
        return QStringLiteral("cupsd no arrancó: ") + m_cupsd.errorString();
    }
    const QDeadlineTimer limite(20000);
    while (!limite.hasExpired() && m_cupsd.state() == QProcess::Running) {
        QString salida;
        if (Ejecutar(QStringLiteral("lpstat"), {QStringLiteral("-r")}, &salida) &&
            salida.contains(QLatin1String("scheduler is running"))) {
            return QString();
        }
        QThread::msleep(20);
    }
    return QStringLiteral("cupsd no responde: ") + QString::fromLocal8Bit(m_cupsd.readAll()) + Bitacora();
}

void CupsDePrueba::Detener()
{
    if (m_cupsd.state() == QProcess::NotRunning) {
        return;
    }
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(15000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

bool CupsDePrueba::AgregarCola(const QString& nombre, const QString& archivo)
{
    return Ejecutar(QStringLiteral("lpadmin"),
                    {QStringLiteral("-p"), nombre, QStringLiteral("-E"), QStringLiteral("-v"),
                     QStringLiteral("file://") + QDir(CarpetaSalida()).filePath(archivo), QStringLiteral("-m"),
                     QStringLiteral("drv:///sample.drv/generic.ppd")});
}

bool CupsDePrueba::FijarPredeterminada(const QString& nombre)
{
    return Ejecutar(QStringLiteral("lpadmin"), {QStringLiteral("-d"), nombre});
}

QStringList CupsDePrueba::Documentos() const
{
    // Kept job files are named d<job number, five digits>-<document number>.
    const QDir spool(m_carpeta.filePath(QStringLiteral("spool")));
    QStringList documentos;
    for (const QString& nombre : spool.entryList({QStringLiteral("d*-*")}, QDir::Files, QDir::Name)) {
        documentos << spool.filePath(nombre);
    }
    return documentos;
}

QString CupsDePrueba::Bitacora() const
{
    QFile archivo(m_carpeta.filePath(QStringLiteral("log/error_log")));
    return archivo.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(archivo.readAll()) : QString();
}

bool CupsDePrueba::Ejecutar(const QString& programa, const QStringList& argumentos, QString* salida)
{
    QProcess proceso;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("CUPS_SERVER"), m_socket);
    proceso.setProcessEnvironment(entorno);
    proceso.start(Buscar(programa), argumentos);
    const bool bien =
        proceso.waitForFinished(30000) && proceso.exitStatus() == QProcess::NormalExit && proceso.exitCode() == 0;
    if (salida != nullptr) {
        *salida = QString::fromLocal8Bit(proceso.readAllStandardOutput());
    }
    if (!bien) {
        m_ultimoError = programa + QStringLiteral(": ") + QString::fromLocal8Bit(proceso.readAllStandardError());
    }
    return bien;
}
