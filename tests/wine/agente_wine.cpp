#include "agente_wine.h"

#include "support/esperar_escucha.h"
#include "support/soporte.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace {

QString Wine()
{
    const QString elegido = qEnvironmentVariable("TORNAVO_WINE");
    return elegido.isEmpty() ? QStringLiteral("/usr/lib/wine/wine64") : elegido;
}

QProcessEnvironment EntornoWine()
{
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    // Nothing of the build machine's Qt may reach the program: it must find everything in its own folder.
    entorno.remove(QStringLiteral("WINEPATH"));
    entorno.remove(QStringLiteral("WINEQT_PLUGIN_PATH"));
    entorno.insert(QStringLiteral("WINEPREFIX"), AgenteWine::Prefijo());
    entorno.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    entorno.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    // Wine keeps Linux variables named QT_* away from Windows programs and hands WINEQT_* over as QT_*.
    entorno.insert(QStringLiteral("WINEQT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return entorno;
}

} // namespace

AgenteWine::AgenteWine()
    // Wine answers more slowly than a native agent.
    : ClienteAgente(30000)
    // A space in the folder's name: every path the agent hands on must survive it.
    , m_temporal(QDir::tempPath() + QStringLiteral("/Plugin Tornavo XXXXXX"))
    , m_carpeta(m_temporal.path())
    , m_entorno(EntornoWine())
{
    m_proceso.setProcessChannelMode(QProcess::SeparateChannels);
}

AgenteWine::~AgenteWine()
{
    Terminar();
}

QString AgenteWine::Prefijo()
{
    return qEnvironmentVariable("TORNAVO_WINEPREFIX");
}

QString AgenteWine::RutaWindows(const QString& rutaLinux)
{
    // Wine's Z: drive is the Linux root.
    return QStringLiteral("Z:") + QFileInfo(rutaLinux).absoluteFilePath().replace(u'/', u'\\');
}

QString AgenteWine::PrepararPrefijo()
{
    if (Prefijo().isEmpty()) {
        return QStringLiteral("TORNAVO_WINEPREFIX no está definido");
    }
    // The unit suites make the same prefix, perhaps at this moment: one script, one lock.
    QProcess proceso;
    proceso.setProcessEnvironment(EntornoWine());
    proceso.setProcessChannelMode(QProcess::MergedChannels);
    proceso.start(qEnvironmentVariable("TORNAVO_PREPARAR_PREFIJO"), {Wine()});
    if (!proceso.waitForFinished(300000)) {
        proceso.kill();
        proceso.waitForFinished(5000);
        return QStringLiteral("el prefijo de Wine no estuvo listo en 5 minutos");
    }
    if (proceso.exitStatus() != QProcess::NormalExit || proceso.exitCode() != 0) {
        return QStringLiteral("no se pudo preparar el prefijo de Wine: ") + proceso.errorString() + u' ' +
               QString::fromUtf8(proceso.readAll()).trimmed();
    }
    return QString();
}

QByteArray AgenteWine::EjecutarWine(const QStringList& argumentos, int* codigo)
{
    QProcess proceso;
    proceso.setProcessEnvironment(EntornoWine());
    proceso.setProcessChannelMode(QProcess::SeparateChannels);
    proceso.start(Wine(), argumentos);
    if (!proceso.waitForFinished(120000)) {
        proceso.kill();
        proceso.waitForFinished(5000);
    }
    if (codigo != nullptr) {
        *codigo = proceso.exitStatus() == QProcess::NormalExit ? proceso.exitCode() : -1;
    }
    return proceso.readAllStandardOutput();
}

void AgenteWine::ReiniciarWine()
{
    const QString servidor = QFileInfo(Wine()).dir().filePath(QStringLiteral("wineserver"));
    QProcess proceso;
    proceso.setProcessEnvironment(EntornoWine());
    proceso.start(servidor, {QStringLiteral("-k")});
    proceso.waitForFinished(30000);
    proceso.start(servidor, {QStringLiteral("-w")});
    proceso.waitForFinished(30000);
}

bool AgenteWine::CopiarCarpeta()
{
    const QString origen = qEnvironmentVariable("TORNAVO_CARPETA_WINDOWS");
    if (QFileInfo::exists(QDir(m_carpeta).filePath(QStringLiteral("plugin-tornavo.exe")))) {
        return true;
    }
    if (origen.isEmpty() || !QFileInfo(origen).isDir()) {
        return false;
    }
    // Hard links keep the copies cheap; config.ini is written anew (never through a link) and not copied.
    QDirIterator recorrido(origen, QDir::Files, QDirIterator::Subdirectories);
    while (recorrido.hasNext()) {
        const QString archivo = recorrido.next();
        const QString relativo = QDir(origen).relativeFilePath(archivo);
        if (relativo == QLatin1String("config.ini")) {
            continue;
        }
        const QString destino = QDir(m_carpeta).filePath(relativo);
        QDir().mkpath(QFileInfo(destino).path());
        std::error_code error;
        std::filesystem::create_hard_link(archivo.toStdString(), destino.toStdString(), error);
        if (error && !QFile::copy(archivo, destino)) {
            return false;
        }
    }
    return true;
}

void AgenteWine::Configurar(const QString& lineasExtra)
{
    ConfigurarTexto(QStringLiteral("[Configuracion]\r\nPuertoHTTP=%1\r\n%2").arg(m_puerto).arg(lineasExtra).toUtf8());
}

void AgenteWine::ConfigurarTexto(const QByteArray& contenido)
{
    const QString ruta = QDir(m_carpeta).filePath(QStringLiteral("config.ini"));
    QFile::remove(ruta);
    soporte::EscribirArchivo(ruta, contenido);
}

void AgenteWine::Arrancar()
{
    m_proceso.setProcessEnvironment(m_entorno);
    m_proceso.setWorkingDirectory(m_carpeta);
    m_proceso.start(Wine(), {QDir(m_carpeta).filePath(QStringLiteral("plugin-tornavo.exe"))});
}

bool AgenteWine::Iniciar(int msEspera)
{
    if (!CopiarCarpeta()) {
        return false;
    }
    Arrancar();
    return soporte::EsperarEscucha(m_proceso, m_puerto, msEspera);
}

int AgenteWine::EjecutarHastaFin(int msEspera)
{
    if (!CopiarCarpeta()) {
        return -1;
    }
    Arrancar();
    if (!m_proceso.waitForFinished(msEspera) || m_proceso.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return m_proceso.exitCode();
}

void AgenteWine::Terminar()
{
    if (m_proceso.state() == QProcess::NotRunning) {
        return;
    }
    // The Windows process id is not the Linux one; the image name is unique among the agents of one test, and a
    // test never runs two that should both stay up.
    EjecutarWine({QStringLiteral("taskkill"), QStringLiteral("/F"), QStringLiteral("/IM"),
                  QStringLiteral("plugin-tornavo.exe")});
    if (!m_proceso.waitForFinished(20000)) {
        m_proceso.kill();
        m_proceso.waitForFinished(5000);
    }
}

QByteArray AgenteWine::BytesLog() const
{
    QFile archivo(QDir(m_carpeta).filePath(
        QStringLiteral("logs/log_%1.log").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")))));
    return archivo.open(QIODevice::ReadOnly) ? archivo.readAll() : QByteArray();
}
