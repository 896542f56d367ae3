#include "support/agente_prueba.h"

#include "support/esperar_escucha.h"
#include "support/soporte.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <filesystem>

namespace soporte {

RespuestaHttp AnalizarRespuesta(const QByteArray& bruta)
{
    RespuestaHttp respuesta;
    respuesta.bruta = bruta;
    const qsizetype blanco = bruta.indexOf("\r\n\r\n");
    const QByteArray cabeza = blanco < 0 ? bruta : bruta.left(blanco);
    respuesta.cuerpo = blanco < 0 ? QByteArray() : bruta.mid(blanco + 4);
    const QList<QByteArray> lineas = cabeza.split('\n');
    if (lineas.isEmpty()) {
        return respuesta;
    }
    const QList<QByteArray> estado = lineas.first().trimmed().split(' ');
    if (estado.size() >= 2) {
        respuesta.estado = estado[1].toInt();
    }
    for (qsizetype i = 1; i < lineas.size(); ++i) {
        const qsizetype dosPuntos = lineas[i].indexOf(':');
        if (dosPuntos > 0) {
            respuesta.cabeceras.insert(lineas[i].left(dosPuntos).trimmed().toLower(),
                                       lineas[i].mid(dosPuntos + 1).trimmed());
        }
    }
    return respuesta;
}

ClienteAgente::ClienteAgente(int msEspera)
    : m_puerto(PuertoLibre())
    , m_msEspera(msEspera)
{
}

AgenteDePrueba::AgenteDePrueba()
    : ClienteAgente(15000)
{
    m_proceso.setWorkingDirectory(m_carpeta.path());
    m_proceso.setProcessChannelMode(QProcess::SeparateChannels);
}

AgenteDePrueba::~AgenteDePrueba()
{
    Detener();
}

void AgenteDePrueba::Configurar(const QString& lineasExtra)
{
    QString texto = QStringLiteral("[Configuracion]\r\nPuertoHTTP=%1\r\n").arg(m_puerto);
    if (!lineasExtra.contains(QLatin1String("DispositivoBalanza"), Qt::CaseInsensitive)) {
        texto += QStringLiteral("DispositivoBalanza=%1/no-hay-balanza\r\n").arg(m_carpeta.path());
    }
    texto += lineasExtra;
    ConfigurarTexto(texto.toUtf8());
}

void AgenteDePrueba::ConfigurarTexto(const QByteArray& contenido)
{
    EscribirArchivo(QDir(m_carpeta.path()).filePath(QStringLiteral("config.ini")), contenido);
}

bool AgenteDePrueba::CopiarEjecutable()
{
    const QString origen = QDir(CarpetaBinarios()).filePath(QStringLiteral("plugin-tornavo"));
    const QString destino = QDir(m_carpeta.path()).filePath(QStringLiteral("plugin-tornavo"));
    if (QFile::exists(destino)) {
        return true;
    }
    std::error_code error;
    std::filesystem::create_hard_link(origen.toStdString(), destino.toStdString(), error);
    return !error || QFile::copy(origen, destino);
}

void AgenteDePrueba::Arrancar(const QStringList& entornoExtra)
{
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    if (!entorno.contains(QStringLiteral("XDG_RUNTIME_DIR"))) {
        entorno.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_carpeta.path());
    }
    for (const QString& par : entornoExtra) {
        const qsizetype igual = par.indexOf(u'=');
        entorno.insert(par.left(igual), par.mid(igual + 1));
    }
    m_proceso.setProcessEnvironment(entorno);
    m_proceso.start(QDir(m_carpeta.path()).filePath(QStringLiteral("plugin-tornavo")), m_argumentos);
}

bool AgenteDePrueba::Iniciar(const QStringList& entornoExtra, int msEspera)
{
    if (!CopiarEjecutable()) {
        return false;
    }
    Arrancar(entornoExtra);
    return EsperarEscucha(m_proceso, m_puerto, msEspera);
}

int AgenteDePrueba::EjecutarHastaFin(const QStringList& entornoExtra, int msEspera)
{
    if (!CopiarEjecutable()) {
        return -1;
    }
    Arrancar(entornoExtra);
    if (!m_proceso.waitForFinished(msEspera) || m_proceso.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return m_proceso.exitCode();
}

void AgenteDePrueba::Detener()
{
    DetenerProceso(m_proceso);
}

QByteArray AgenteDePrueba::SalidaDeError()
{
    m_errores += m_proceso.readAllStandardError();
    return m_errores;
}

RespuestaHttp ClienteAgente::Solicitar(const QByteArray& bytes, int msEspera) const
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_puerto);
    if (!socket.waitForConnected(msEspera)) {
        return {};
    }
    socket.write(bytes);
    QByteArray recibido;
    const QDeadlineTimer limite(msEspera);
    while (!limite.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        if (socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, limite.remainingTime())))) {
            recibido += socket.readAll();
        }
    }
    recibido += socket.readAll();
    return AnalizarRespuesta(recibido);
}

RespuestaHttp ClienteAgente::Get(const QString& ruta, const QByteArray& origen) const
{
    QByteArray solicitud = "GET " + ruta.toUtf8() + " HTTP/1.1\r\nHost: localhost\r\n";
    if (!origen.isEmpty()) {
        solicitud += "Origin: " + origen + "\r\n";
    }
    return Solicitar(solicitud + "\r\n");
}

RespuestaHttp ClienteAgente::Post(const QString& ruta, const QByteArray& cuerpo, const QByteArray& origen) const
{
    QByteArray solicitud =
        "POST " + ruta.toUtf8() + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n";
    if (!origen.isEmpty()) {
        solicitud += "Origin: " + origen + "\r\n";
    }
    solicitud += "Content-Length: " + QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo;
    return Solicitar(solicitud);
}

QStringList ClienteAgente::LineasLog() const
{
    return LineasDelLog(Carpeta());
}

QString ClienteAgente::UltimoPdfGuardado() const
{
    static const QLatin1String kMarca("] PDF guardado: ");
    const QStringList lineas = LineasLog();
    for (auto linea = lineas.crbegin(); linea != lineas.crend(); ++linea) {
        const qsizetype donde = linea->indexOf(kMarca);
        if (donde >= 0) {
            return linea->mid(donde + kMarca.size());
        }
    }
    return QString();
}

bool ClienteAgente::EsperarLineaLog(const QString& texto, int msEspera) const
{
    QElapsedTimer reloj;
    reloj.start();
    do {
        for (const QString& linea : LineasLog()) {
            if (linea.contains(texto)) {
                return true;
            }
        }
        QThread::msleep(20);
    } while (reloj.elapsed() < msEspera);
    return false;
}

} // namespace soporte
