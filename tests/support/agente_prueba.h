#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace soporte {

struct RespuestaHttp
{
    QByteArray bruta;                       // every byte received until the agent closed the connection
    int estado = 0;                         // status code, 0 when nothing parseable arrived
    QMap<QByteArray, QByteArray> cabeceras; // names lower-cased
    QByteArray cuerpo;
};

RespuestaHttp AnalizarRespuesta(const QByteArray& bruta);

// What a test does with a running agent, whichever build it is: HTTP to its port, reading the log of its folder.
class ClienteAgente
{
public:
    virtual ~ClienteAgente() = default;

    virtual QString Carpeta() const = 0;
    quint16 Puerto() const { return m_puerto; }

    RespuestaHttp Solicitar(const QByteArray& bytes) const { return Solicitar(bytes, m_msEspera); }
    RespuestaHttp Solicitar(const QByteArray& bytes, int msEspera) const;
    RespuestaHttp Get(const QString& ruta, const QByteArray& origen = "https://app.tornavo.com") const;
    RespuestaHttp Post(const QString& ruta, const QByteArray& cuerpo,
                       const QByteArray& origen = "https://app.tornavo.com") const;

    QStringList LineasLog() const;
    // Waits until a log line contains `texto`; true when it appeared.
    bool EsperarLineaLog(const QString& texto, int msEspera = 15000) const;
    // The file the latest "PDF guardado: " line names, as the agent wrote it; empty when there is none.
    QString UltimoPdfGuardado() const;

protected:
    // msEspera: how long a request may take to be answered.
    explicit ClienteAgente(int msEspera);

    quint16 m_puerto;

private:
    int m_msEspera;
};

// The real agent in a temporary program folder of its own, with its own config.ini and a free HTTP port.
class AgenteDePrueba final : public ClienteAgente
{
public:
    AgenteDePrueba();
    ~AgenteDePrueba() override;
    AgenteDePrueba(const AgenteDePrueba&) = delete;
    AgenteDePrueba& operator=(const AgenteDePrueba&) = delete;

    QString Carpeta() const override { return m_carpeta.path(); }

    // Writes config.ini with [Configuracion], PuertoHTTP and, unless given, a DispositivoBalanza that does not
    // exist (so no test touches a real serial port), then the extra lines.
    void Configurar(const QString& lineasExtra = QString());
    // Writes config.ini exactly as given.
    void ConfigurarTexto(const QByteArray& contenido);

    // Command-line arguments of the next start.
    void FijarArgumentos(const QStringList& argumentos) { m_argumentos = argumentos; }
    // Copies the executable into the folder and starts it; true once it accepts connections.
    bool Iniciar(const QStringList& entornoExtra = {}, int msEspera = 15000);
    // Starts it and waits for it to end on its own; its exit code, or -1 when it did not end in time.
    int EjecutarHastaFin(const QStringList& entornoExtra = {}, int msEspera = 15000);
    // SIGTERM, then kill if it lingers.
    void Detener();
    QProcess& Proceso() { return m_proceso; }
    QByteArray SalidaDeError();

private:
    bool CopiarEjecutable();
    void Arrancar(const QStringList& entornoExtra);

    QTemporaryDir m_carpeta;
    QProcess m_proceso;
    QStringList m_argumentos;
    QByteArray m_errores;
};

} // namespace soporte
