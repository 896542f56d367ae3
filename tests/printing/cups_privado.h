#pragma once

// A CUPS scheduler of the tests' own: configuration, spool, logs and socket in a temporary folder, never the
// system's scheduler. While it runs, CUPS_SERVER points this process and its children (lp, QPrinterInfo, the agent)
// at its socket.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <QHash>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

class CupsPrivado final
{
public:
    struct Trabajo
    {
        int id = 0;
        QString impresora;
        bool ajustarPagina = false; // fit-to-page asked for
        QString estado;             // pending, processing, completed, aborted ...
    };

    CupsPrivado() = default;
    ~CupsPrivado() { Detener(); }
    CupsPrivado(const CupsPrivado&) = delete;
    CupsPrivado& operator=(const CupsPrivado&) = delete;

    // Starts the scheduler. Returns empty text when it runs, otherwise why it cannot (for QSKIP).
    QString Iniciar()
    {
        if (::geteuid() != 0) {
            return QStringLiteral("el planificador CUPS privado necesita root (sus filtros corren como otro usuario)");
        }
        const QStringList sistema{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                  QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")};
        for (const QString& programa :
             {QStringLiteral("cupsd"), QStringLiteral("lpadmin"), QStringLiteral("lpstat"), QStringLiteral("lp"),
              QStringLiteral("cupsreject"), QStringLiteral("ipptool")}) {
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
        // The filters run as an unprivileged user and must reach the spool and the output folder.
        for (const char* sub : {"etc/ppd", "spool/tmp", "cache", "state", "log", "salida"}) {
            QDir().mkpath(raiz + u'/' + QLatin1String(sub));
        }
        const auto abrir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                           QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(raiz, abrir);
        const auto todos = abrir | QFile::WriteGroup | QFile::WriteOther;
        QFile::setPermissions(raiz + QStringLiteral("/salida"), todos);
        QFile::setPermissions(raiz + QStringLiteral("/spool/tmp"), todos);
        ::chmod(QFile::encodeName(raiz + QStringLiteral("/spool/tmp")).constData(), 01777);

        m_socket = raiz + QStringLiteral("/cups.sock");
        Escribir(raiz + QStringLiteral("/cupsd.conf"), QStringLiteral("Listen %1\n"
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
                                                           .arg(m_socket));
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
        m_entornoAnterior = qgetenv("CUPS_SERVER");
        qputenv("CUPS_SERVER", QFile::encodeName(m_socket));
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");

        m_cupsd.setProgram(m_programas.value(QStringLiteral("cupsd")));
        m_cupsd.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), raiz + QStringLiteral("/cupsd.conf"),
                              QStringLiteral("-s"), raiz + QStringLiteral("/cups-files.conf")});
        m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
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

    void Detener()
    {
        if (m_cupsd.state() != QProcess::NotRunning) {
            m_cupsd.terminate();
            if (!m_cupsd.waitForFinished(15000)) {
                m_cupsd.kill();
                m_cupsd.waitForFinished(5000);
            }
            if (m_entornoAnterior.isEmpty()) {
                qunsetenv("CUPS_SERVER");
            } else {
                qputenv("CUPS_SERVER", m_entornoAnterior);
            }
        }
    }

    QString Socket() const { return m_socket; }
    QString CarpetaSalida() const { return m_carpeta.filePath(QStringLiteral("salida")); }

    // A queue that accepts jobs and throws them away, or, with `archivo`, one that renders them to PostScript into
    // that file (the file device rewrites it for each job).
    bool AgregarCola(const QString& nombre, const QString& archivo = QString())
    {
        QStringList argumentos{QStringLiteral("-p"), nombre, QStringLiteral("-E"), QStringLiteral("-v")};
        if (archivo.isEmpty()) {
            argumentos << QStringLiteral("file:///dev/null");
        } else {
            argumentos << QStringLiteral("file://") + archivo << QStringLiteral("-m")
                       << QStringLiteral("drv:///sample.drv/generic.ppd");
        }
        return Ejecutar(QStringLiteral("lpadmin"), argumentos);
    }
    bool FijarPredeterminada(const QString& nombre)
    {
        return Ejecutar(QStringLiteral("lpadmin"), {QStringLiteral("-d"), nombre});
    }
    bool Rechazar(const QString& nombre) { return Ejecutar(QStringLiteral("cupsreject"), {nombre}); }

    // Every job the scheduler knows, oldest first.
    QList<Trabajo> Trabajos()
    {
        const QString prueba = m_carpeta.filePath(QStringLiteral("trabajos.test"));
        Escribir(prueba, QStringLiteral("{\n"
                                        "  NAME \"trabajos\"\n"
                                        "  OPERATION Get-Jobs\n"
                                        "  GROUP operation-attributes-tag\n"
                                        "  ATTR charset attributes-charset utf-8\n"
                                        "  ATTR naturalLanguage attributes-natural-language en\n"
                                        "  ATTR uri printer-uri $uri\n"
                                        "  ATTR keyword which-jobs all\n"
                                        "  ATTR keyword requested-attributes job-id,job-printer-uri,fit-to-page,"
                                        "job-state\n"
                                        "  STATUS successful-ok\n"
                                        "  DISPLAY job-id\n"
                                        "  DISPLAY job-printer-uri\n"
                                        "  DISPLAY fit-to-page\n"
                                        "  DISPLAY job-state\n"
                                        "}\n"));
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

    // The highest job number so far, 0 before any job.
    int UltimoTrabajo()
    {
        const QList<Trabajo> trabajos = Trabajos();
        return trabajos.isEmpty() ? 0 : trabajos.last().id;
    }

    // The jobs numbered after `id`, once at least `cuantos` of them are listed and all are completed (a job is listed
    // before lp has sent all of its document; it is whole once the job is done). Waits up to a minute.
    QList<Trabajo> TrabajosTerminadosDesde(int id, int cuantos)
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

    // The document of a job as the scheduler received it.
    QByteArray Documento(int id) const
    {
        QFile archivo(m_carpeta.filePath(QStringLiteral("spool/d%1-001").arg(id, 5, 10, QLatin1Char('0'))));
        return archivo.open(QIODevice::ReadOnly) ? archivo.readAll() : QByteArray();
    }

    QString Bitacora() const
    {
        QFile archivo(m_carpeta.filePath(QStringLiteral("log/error_log")));
        return archivo.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(archivo.readAll()) : QString();
    }

    QString UltimoError() const { return m_ultimoError; }

private:
    static void Escribir(const QString& ruta, const QString& texto)
    {
        QFile archivo(ruta);
        if (archivo.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            archivo.write(texto.toUtf8());
        }
    }

    bool Ejecutar(const QString& programa, const QStringList& argumentos, QString* salida = nullptr)
    {
        QProcess proceso;
        proceso.start(m_programas.value(programa, programa), argumentos);
        const bool bien =
            proceso.waitForFinished(30000) && proceso.exitStatus() == QProcess::NormalExit && proceso.exitCode() == 0;
        const QString texto = QString::fromLocal8Bit(proceso.readAllStandardOutput());
        if (salida != nullptr) {
            *salida = texto;
        }
        if (!bien) {
            m_ultimoError = programa + QStringLiteral(": ") + QString::fromLocal8Bit(proceso.readAllStandardError());
        }
        return bien;
    }

    QTemporaryDir m_carpeta;
    QProcess m_cupsd;
    QString m_socket;
    QByteArray m_entornoAnterior;
    QHash<QString, QString> m_programas;
    QString m_ultimoError;
};
