#include "navegador.h"

#include "support/soporte.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// A descriptor moved above the ones the child expects (3 and 4), close-on-exec in this process.
int Alto(int fd)
{
    const int alto = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return alto;
}

} // namespace

Navegador::Navegador(QObject* parent)
    : QObject(parent)
{
    // A browser that dies makes the next write fail with EPIPE instead of killing the test.
    std::signal(SIGPIPE, SIG_IGN);
}

Navegador::~Navegador()
{
    Cerrar();
}

QString Navegador::Programa()
{
    const QString elegido = qEnvironmentVariable("TORNAVO_CHROMIUM");
    if (!elegido.isEmpty()) {
        return QFileInfo(elegido).isExecutable() ? elegido : QString();
    }
    QString ruta = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (ruta.isEmpty() && QFileInfo(QStringLiteral("/usr/bin/chromium")).isExecutable()) {
        ruta = QStringLiteral("/usr/bin/chromium");
    }
    return ruta;
}

QString Navegador::Iniciar(const QStringList& argumentos)
{
    const QString programa = Programa();
    if (programa.isEmpty()) {
        return QStringLiteral("falta Chromium (paquete chromium, o TORNAVO_CHROMIUM)");
    }
    m_perfil = std::make_unique<QTemporaryDir>();
    if (!m_perfil->isValid()) {
        return QStringLiteral("no se pudo crear el perfil temporal");
    }
    int haciaNavegador[2];
    int desdeNavegador[2];
    if (::pipe2(haciaNavegador, O_CLOEXEC) != 0) {
        return QStringLiteral("pipe: ") + QString::fromLocal8Bit(strerror(errno));
    }
    if (::pipe2(desdeNavegador, O_CLOEXEC) != 0) {
        ::close(haciaNavegador[0]);
        ::close(haciaNavegador[1]);
        return QStringLiteral("pipe: ") + QString::fromLocal8Bit(strerror(errno));
    }
    const int lecturaHija = Alto(haciaNavegador[0]);
    const int escrituraHija = Alto(desdeNavegador[1]);
    m_escritura = haciaNavegador[1];
    m_lectura = desdeNavegador[0];

    m_proceso.setProgram(programa);
    m_proceso.setArguments(
        QStringList{QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                    QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                    QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                    QStringLiteral("--disable-sync"), QStringLiteral("--user-data-dir=") + m_perfil->path(),
                    QStringLiteral("--remote-debugging-pipe")} +
        argumentos);
    m_proceso.setStandardOutputFile(QProcess::nullDevice());
    m_proceso.setProcessChannelMode(QProcess::SeparateChannels);
    m_proceso.setChildProcessModifier([lecturaHija, escrituraHija] {
        // Its own process group, so that renderers and helpers go with it; and gone if the test dies.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(lecturaHija, 3);
        ::dup2(escrituraHija, 4);
    });
    m_proceso.start();
    const bool arranco = m_proceso.waitForStarted(30000);
    ::close(lecturaHija);
    ::close(escrituraHija);
    if (!arranco) {
        CerrarCanal();
        return QStringLiteral("Chromium no arrancó: ") + m_proceso.errorString();
    }
    m_grupo = m_proceso.processId();
    ::fcntl(m_lectura, F_SETFL, ::fcntl(m_lectura, F_GETFL) | O_NONBLOCK);
    m_aviso = std::make_unique<QSocketNotifier>(m_lectura, QSocketNotifier::Read);
    connect(m_aviso.get(), &QSocketNotifier::activated, this, &Navegador::Leer);

    const QJsonObject version = Llamar(QStringLiteral("Browser.getVersion"));
    if (!version.contains(QLatin1String("result"))) {
        return QStringLiteral("Chromium no responde por DevTools: ") + QString::fromLocal8Bit(SalidaDeError());
    }
    return QString();
}

void Navegador::Cerrar()
{
    if (m_proceso.state() != QProcess::NotRunning) {
        if (m_escritura >= 0) {
            Llamar(QStringLiteral("Browser.close"), {}, false, 5000);
        }
        soporte::EsperarFinOMatar(m_proceso);
    }
    if (m_grupo > 0) {
        // Whatever of the group survived its leader.
        ::kill(-pid_t(m_grupo), SIGKILL);
        m_grupo = 0;
    }
    CerrarCanal();
    m_sesion.clear();
    m_respuestas.clear();
    m_eventos.clear();
    m_perfil.reset();
}

void Navegador::CerrarCanal()
{
    m_aviso.reset();
    if (m_escritura >= 0) {
        ::close(m_escritura);
        m_escritura = -1;
    }
    if (m_lectura >= 0) {
        ::close(m_lectura);
        m_lectura = -1;
    }
    m_pendiente.clear();
}

void Navegador::Leer()
{
    char bloque[65536];
    for (;;) {
        const ssize_t n = ::read(m_lectura, bloque, sizeof bloque);
        if (n > 0) {
            m_pendiente.append(bloque, qsizetype(n));
            continue;
        }
        if (n == 0) {
            // The browser closed its end: nothing more will come.
            m_aviso->setEnabled(false);
        } else if (errno == EINTR) {
            continue;
        }
        break;
    }
    qsizetype fin;
    while ((fin = m_pendiente.indexOf('\0')) >= 0) {
        const QJsonObject mensaje = QJsonDocument::fromJson(m_pendiente.left(fin)).object();
        m_pendiente.remove(0, fin + 1);
        if (mensaje.contains(QLatin1String("id"))) {
            m_respuestas.insert(mensaje.value(QLatin1String("id")).toInt(), mensaje);
        } else {
            m_eventos.append(mensaje);
        }
    }
    emit mensajeRecibido();
}

QJsonObject Navegador::Llamar(const QString& metodo, const QJsonObject& parametros, bool enSesion, int msEspera)
{
    if (m_escritura < 0) {
        return {};
    }
    const int id = ++m_ultimoId;
    QJsonObject orden{
        {QStringLiteral("id"), id}, {QStringLiteral("method"), metodo}, {QStringLiteral("params"), parametros}};
    if (enSesion) {
        orden.insert(QStringLiteral("sessionId"), m_sesion);
    }
    const QByteArray bytes = QJsonDocument(orden).toJson(QJsonDocument::Compact) + '\0';
    qsizetype escritos = 0;
    while (escritos < bytes.size()) {
        const ssize_t n = ::write(m_escritura, bytes.constData() + escritos, size_t(bytes.size() - escritos));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return {};
        }
        escritos += n;
    }
    const QDeadlineTimer limite(msEspera);
    QSignalSpy espia(this, &Navegador::mensajeRecibido);
    while (!m_respuestas.contains(id) && !limite.hasExpired() && m_aviso && m_aviso->isEnabled()) {
        espia.wait(int(qMax<qint64>(1, qMin<qint64>(limite.remainingTime(), 1000))));
    }
    return m_respuestas.take(id);
}

bool Navegador::EsperarEvento(const QString& metodo, int msEspera)
{
    const QDeadlineTimer limite(msEspera);
    QSignalSpy espia(this, &Navegador::mensajeRecibido);
    for (;;) {
        for (qsizetype i = 0; i < m_eventos.size(); ++i) {
            const QJsonObject& evento = m_eventos[i];
            if (evento.value(QLatin1String("method")).toString() == metodo &&
                evento.value(QLatin1String("sessionId")).toString() == m_sesion) {
                m_eventos.remove(0, i + 1);
                return true;
            }
        }
        if (limite.hasExpired() || !m_aviso || !m_aviso->isEnabled()) {
            return false;
        }
        espia.wait(int(qMax<qint64>(1, qMin<qint64>(limite.remainingTime(), 1000))));
    }
}

bool Navegador::Conceder(const QString& origen, const QStringList& permisos, QString* error)
{
    const QJsonObject respuesta = Llamar(
        QStringLiteral("Browser.grantPermissions"),
        {{QStringLiteral("origin"), origen}, {QStringLiteral("permissions"), QJsonArray::fromStringList(permisos)}});
    if (respuesta.contains(QLatin1String("result"))) {
        return true;
    }
    if (error != nullptr) {
        *error = QString::fromUtf8(QJsonDocument(respuesta).toJson(QJsonDocument::Compact));
    }
    return false;
}

bool Navegador::Abrir(const QUrl& url, QString* error)
{
    const auto fallo = [error](const QString& texto) {
        if (error != nullptr) {
            *error = texto;
        }
        return false;
    };
    if (m_sesion.isEmpty()) {
        const QJsonObject pestana =
            Llamar(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}});
        const QString destino =
            pestana.value(QLatin1String("result")).toObject().value(QLatin1String("targetId")).toString();
        if (destino.isEmpty()) {
            return fallo(QStringLiteral("no se pudo abrir una pestaña"));
        }
        const QJsonObject enlace = Llamar(QStringLiteral("Target.attachToTarget"),
                                          {{QStringLiteral("targetId"), destino}, {QStringLiteral("flatten"), true}});
        m_sesion = enlace.value(QLatin1String("result")).toObject().value(QLatin1String("sessionId")).toString();
        if (m_sesion.isEmpty() || !Llamar(QStringLiteral("Page.enable"), {}, true).contains(QLatin1String("result"))) {
            return fallo(QStringLiteral("no se pudo seguir la pestaña"));
        }
    }
    m_eventos.clear();
    const QJsonObject navegacion =
        Llamar(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url.toString()}}, true);
    const QString textoError =
        navegacion.value(QLatin1String("result")).toObject().value(QLatin1String("errorText")).toString();
    if (!navegacion.contains(QLatin1String("result")) || !textoError.isEmpty()) {
        return fallo(QStringLiteral("no se pudo cargar %1: %2").arg(url.toString(), textoError));
    }
    if (!EsperarEvento(QStringLiteral("Page.loadEventFired"), 30000)) {
        return fallo(QStringLiteral("%1 no terminó de cargar").arg(url.toString()));
    }
    return true;
}

QJsonValue Navegador::Evaluar(const QString& expresion, QString* error, int msEspera)
{
    const QJsonObject respuesta = Llamar(QStringLiteral("Runtime.evaluate"),
                                         {{QStringLiteral("expression"), expresion},
                                          {QStringLiteral("awaitPromise"), true},
                                          {QStringLiteral("returnByValue"), true},
                                          {QStringLiteral("userGesture"), true}},
                                         true, msEspera);
    const QJsonObject resultado = respuesta.value(QLatin1String("result")).toObject();
    QString motivo;
    if (respuesta.isEmpty()) {
        motivo = QStringLiteral("sin respuesta del navegador");
    } else if (respuesta.contains(QLatin1String("error"))) {
        motivo = QString::fromUtf8(QJsonDocument(respuesta.value(QLatin1String("error")).toObject()).toJson());
    } else if (resultado.contains(QLatin1String("exceptionDetails"))) {
        const QJsonObject detalle = resultado.value(QLatin1String("exceptionDetails")).toObject();
        motivo = detalle.value(QLatin1String("exception")).toObject().value(QLatin1String("description")).toString();
        if (motivo.isEmpty()) {
            motivo = detalle.value(QLatin1String("text")).toString();
        }
    } else {
        return resultado.value(QLatin1String("result")).toObject().value(QLatin1String("value"));
    }
    if (error != nullptr) {
        *error = motivo;
    }
    return QJsonValue(QJsonValue::Undefined);
}

bool Navegador::ElegirArchivo(const QString& campo, const QString& archivo, QString* error)
{
    const QJsonValue elemento =
        Llamar(QStringLiteral("Runtime.evaluate"), {{QStringLiteral("expression"), campo}}, true)
            .value(QLatin1String("result"))["result"]["objectId"];
    const QJsonObject respuesta =
        Llamar(QStringLiteral("DOM.setFileInputFiles"),
               {{QStringLiteral("objectId"), elemento}, {QStringLiteral("files"), QJsonArray{archivo}}}, true);
    if (!respuesta.contains(QLatin1String("result")) && error != nullptr) {
        *error = QStringLiteral("no se pudo elegir %1: %2")
                     .arg(archivo, QString::fromUtf8(QJsonDocument(respuesta).toJson()));
    }
    return respuesta.contains(QLatin1String("result"));
}

QByteArray Navegador::SalidaDeError()
{
    m_errores += m_proceso.readAllStandardError();
    return m_errores;
}
