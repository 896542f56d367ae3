#include "support/cups_privado.h"

#include "support/soporte.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace soporte {

CupsPrivado::~CupsPrivado()
{
    Detener();
}

QString CupsPrivado::Iniciar()
{
    if (::geteuid() != 0) {
        return QStringLiteral("el planificador CUPS privado necesita root (sus filtros corren como otro usuario)");
    }
    const QStringList sistema{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                              QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")};
    for (const QString& programa :
         {QStringLiteral("cupsd"), QStringLiteral("lpadmin"), QStringLiteral("lpstat"), QStringLiteral("lp"),
          QStringLiteral("cupsreject"), QStringLiteral("ipptool"), QStringLiteral("cupsdisable"),
          QStringLiteral("cupsenable"), QStringLiteral("cancel")}) {
        QString ruta = QStandardPaths::findExecutable(programa);
        if (ruta.isEmpty()) {
            ruta = QStandardPaths::findExecutable(programa, sistema);
        }
        if (ruta.isEmpty()) {
            return QStringLiteral("falta %1 (paquetes cups, cups-client, cups-ipp-utils)").arg(programa);
        }
        m_programas.insert(programa, ruta);
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
        EscribirArchivo(raiz + QStringLiteral("/cupsd.conf"), QStringLiteral("Listen %1\n"
                                                                             "Browsing No\n"
                                                                             "WebInterface No\n"
                                                                             "DefaultAuthType None\n"
                                                                             "PreserveJobFiles Yes\n"
                                                                             "PreserveJobHistory Yes\n"
                                                                             "MaxJobs 0\n"
                                                                             "<Location />\n"
                                                                             "  Order allow,deny\n"
                                                                             "  Allow all\n"
                                                                             "</Location>\n"
                                                                             "<Policy default>\n"
                                                                             "  <Limit All>\n"
                                                                             "    Order deny,allow\n"
                                                                             "  </Limit>\n"
                                                                             "</Policy>\n")
                                                                  .arg(m_socket)
                                                                  .toUtf8()) &&
        EscribirArchivo(raiz + QStringLiteral("/cups-files.conf"), QStringLiteral("ServerRoot %1/etc\n"
                                                                                  "StateDir %1/state\n"
                                                                                  "CacheDir %1/cache\n"
                                                                                  "RequestRoot %1/spool\n"
                                                                                  "TempDir %1/spool/tmp\n"
                                                                                  "AccessLog %1/log/access_log\n"
                                                                                  "ErrorLog %1/log/error_log\n"
                                                                                  "PageLog %1/log/page_log\n"
                                                                                  "FileDevice Yes\n"
                                                                                  "SystemGroup root\n")
                                                                       .arg(raiz)
                                                                       .toUtf8());
    if (!escrito) {
        return QStringLiteral("no se pudo escribir la configuración de cupsd");
    }
    m_entornoAnterior = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", QFile::encodeName(m_socket));
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");

    m_cupsd.setProgram(m_programas.value(QStringLiteral("cupsd")));
    m_cupsd.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), raiz + QStringLiteral("/cupsd.conf"),
                          QStringLiteral("-s"), raiz + QStringLiteral("/cups-files.conf")});
    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    // Never outlives a test that crashes.
    m_cupsd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_cupsd.start();
    if (!m_cupsd.waitForStarted(10000)) {
        return QStringLiteral("cupsd no arrancó: ") + m_cupsd.errorString();
    }
    const QDeadlineTimer limite(20000);
    while (!limite.hasExpired()) {
        QString salida;
        if (Ejecutar(QStringLiteral("lpstat"), {QStringLiteral("-r")}, &salida) &&
            salida.contains(QLatin1String("scheduler is running"))) {
            return QString();
        }
        if (m_cupsd.state() == QProcess::NotRunning) {
            break;
        }
        QTest::qWait(20);
    }
    return QStringLiteral("cupsd no responde: ") + QString::fromLocal8Bit(m_cupsd.readAll()) + Bitacora();
}

void CupsPrivado::Detener()
{
    if (m_cupsd.state() == QProcess::NotRunning) {
        return;
    }
    // Stopping right after a job takes a couple of seconds.
    DetenerProceso(m_cupsd, 15000);
    if (m_entornoAnterior.isEmpty()) {
        qunsetenv("CUPS_SERVER");
    } else {
        qputenv("CUPS_SERVER", m_entornoAnterior);
    }
}

bool CupsPrivado::AgregarCola(const QString& nombre, const QString& archivo)
{
    QStringList argumentos{QStringLiteral("-p"), nombre, QStringLiteral("-E"), QStringLiteral("-v")};
    if (archivo.isEmpty()) {
        argumentos << QStringLiteral("file:///dev/null");
    } else {
        argumentos << QStringLiteral("file://") + QDir(CarpetaSalida()).filePath(archivo) << QStringLiteral("-m")
                   << QStringLiteral("drv:///sample.drv/generic.ppd");
    }
    return Ejecutar(QStringLiteral("lpadmin"), argumentos);
}

bool CupsPrivado::AgregarColaEn(const QString& nombre, const QString& uri, const QString& modelo)
{
    QStringList argumentos{QStringLiteral("-p"),
                           nombre,
                           QStringLiteral("-E"),
                           QStringLiteral("-v"),
                           uri,
                           QStringLiteral("-o"),
                           QStringLiteral("printer-error-policy=abort-job")};
    if (!modelo.isEmpty()) {
        argumentos << QStringLiteral("-m") << modelo;
    }
    return Ejecutar(QStringLiteral("lpadmin"), argumentos);
}

bool CupsPrivado::Deshabilitar(const QString& nombre)
{
    return Ejecutar(QStringLiteral("cupsdisable"), {nombre});
}

bool CupsPrivado::Habilitar(const QString& nombre)
{
    return Ejecutar(QStringLiteral("cupsenable"), {nombre});
}

bool CupsPrivado::Cancelar(int id)
{
    return Ejecutar(QStringLiteral("cancel"), {QString::number(id)});
}

QHash<QString, QString> CupsPrivado::Atributos(int id)
{
    const QString prueba = m_carpeta.filePath(QStringLiteral("trabajo.test"));
    EscribirArchivo(prueba, "{\n"
                            "  OPERATION Get-Job-Attributes\n"
                            "  GROUP operation-attributes-tag\n"
                            "  ATTR charset attributes-charset utf-8\n"
                            "  ATTR naturalLanguage attributes-natural-language en\n"
                            "  ATTR uri printer-uri $uri\n"
                            "  ATTR integer job-id $job-id\n"
                            "  ATTR keyword requested-attributes all\n"
                            "  STATUS successful-ok\n"
                            "}\n");
    const QString uri = QStringLiteral("ipp://") + QString::fromLatin1(QUrl::toPercentEncoding(m_socket)) +
                        QStringLiteral("/jobs/%1").arg(id);
    QString salida;
    QHash<QString, QString> atributos;
    if (!Ejecutar(QStringLiteral("ipptool"),
                  {QStringLiteral("-tv"), QStringLiteral("-d"), QStringLiteral("job-id=%1").arg(id), uri, prueba},
                  &salida)) {
        return atributos;
    }
    // "        copies (integer) = 2", after the request's own attributes.
    const QString respuesta = salida.mid(salida.indexOf(QLatin1String("RECEIVED")));
    static const QRegularExpression linea(QStringLiteral("^\\s+(\\S+) \\([^)]*\\) = (.*)$"),
                                          QRegularExpression::MultilineOption);
    for (auto m = linea.globalMatch(respuesta); m.hasNext();) {
        const auto encontrado = m.next();
        atributos.insert(encontrado.captured(1), encontrado.captured(2));
    }
    return atributos;
}

bool CupsPrivado::FijarPredeterminada(const QString& nombre)
{
    return Ejecutar(QStringLiteral("lpadmin"), {QStringLiteral("-d"), nombre});
}

bool CupsPrivado::Rechazar(const QString& nombre)
{
    return Ejecutar(QStringLiteral("cupsreject"), {nombre});
}

QList<CupsPrivado::Trabajo> CupsPrivado::Trabajos()
{
    const QString prueba = m_carpeta.filePath(QStringLiteral("trabajos.test"));
    EscribirArchivo(prueba, "{\n"
                            "  NAME \"trabajos\"\n"
                            "  OPERATION Get-Jobs\n"
                            "  GROUP operation-attributes-tag\n"
                            "  ATTR charset attributes-charset utf-8\n"
                            "  ATTR naturalLanguage attributes-natural-language en\n"
                            "  ATTR uri printer-uri $uri\n"
                            "  ATTR keyword which-jobs all\n"
                            "  ATTR keyword requested-attributes job-id,job-printer-uri,fit-to-page,job-state\n"
                            "  STATUS successful-ok\n"
                            "  DISPLAY job-id\n"
                            "  DISPLAY job-printer-uri\n"
                            "  DISPLAY fit-to-page\n"
                            "  DISPLAY job-state\n"
                            "}\n");
    const QString uri =
        QStringLiteral("ipp://") + QString::fromLatin1(QUrl::toPercentEncoding(m_socket)) + QStringLiteral("/");
    QString salida;
    if (!Ejecutar(QStringLiteral("ipptool"), {QStringLiteral("-c"), uri, prueba}, &salida)) {
        return {};
    }
    QList<Trabajo> trabajos;
    const QStringList lineas = salida.split(u'\n', Qt::SkipEmptyParts);
    for (const QString& linea : lineas.mid(1)) {
        const QStringList campos = linea.split(u',');
        if (campos.size() < 4) {
            continue;
        }
        Trabajo t;
        t.id = campos[0].toInt();
        t.impresora = QUrl::fromPercentEncoding(campos[1].section(u'/', -1).toUtf8());
        t.ajustarPagina = campos[2] == QLatin1String("true");
        t.estado = campos[3].trimmed();
        trabajos << t;
    }
    std::sort(trabajos.begin(), trabajos.end(), [](const Trabajo& a, const Trabajo& b) { return a.id < b.id; });
    return trabajos;
}

int CupsPrivado::UltimoTrabajo()
{
    const QList<Trabajo> trabajos = Trabajos();
    return trabajos.isEmpty() ? 0 : trabajos.last().id;
}

QList<CupsPrivado::Trabajo> CupsPrivado::TrabajosTerminadosDesde(int id, int cuantos)
{
    QList<Trabajo> nuevos;
    const bool llegaron = QTest::qWaitFor(
        [&] {
            nuevos.clear();
            bool terminados = true;
            for (const Trabajo& t : Trabajos()) {
                if (t.id > id) {
                    nuevos << t;
                    terminados = terminados && t.estado == QLatin1String("completed");
                }
            }
            return nuevos.size() >= cuantos && terminados;
        },
        60000);
    if (!llegaron) {
        qWarning() << "trabajos esperados:" << cuantos << "llegaron:" << nuevos.size() << m_ultimoError;
    }
    return nuevos;
}

QByteArray CupsPrivado::Documento(int id) const
{
    return LeerArchivo(m_carpeta.filePath(QStringLiteral("spool/d%1-001").arg(id, 5, 10, QLatin1Char('0'))));
}

QStringList CupsPrivado::Documentos() const
{
    // Kept job files are named d<job number, five digits>-<document number>.
    const QDir spool(m_carpeta.filePath(QStringLiteral("spool")));
    QStringList documentos;
    for (const QString& nombre : spool.entryList({QStringLiteral("d*-*")}, QDir::Files, QDir::Name)) {
        documentos << spool.filePath(nombre);
    }
    return documentos;
}

QString CupsPrivado::Bitacora() const
{
    return QString::fromLocal8Bit(LeerArchivo(m_carpeta.filePath(QStringLiteral("log/error_log"))));
}

bool CupsPrivado::Ejecutar(const QString& programa, const QStringList& argumentos, QString* salida)
{
    QProcess proceso;
    proceso.start(m_programas.value(programa, programa), argumentos);
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

} // namespace soporte
