#include "http/servidor.h"

#include "base/registro.h"
#include "http/protocolo.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <memory>

struct ServidorWeb::Ranura
{
    QPointer<QTcpSocket> socket; // null: the slot is free
    EnsambladorSolicitud ensamblador;
    QTimer silencio;
    QTimer inactividad;
    qint64 actividad = 0; // the last byte's arrival, or the slot's taking before any: the slot's quiet
    // The first byte's arrival: the request's age. Before any byte, the connection's arrival, time spent waiting
    // for the slot included: a connection that has sent nothing all that while is no request in transit.
    qint64 desde = 0;
    QTimer plazo; // the request's whole time, from its first byte
    bool conBytes = false;
    quint64 generacion = 0;
    bool atendida = false; // its request is being handled: later bytes are not another request
    bool continuarEnviado = false;
    bool juzgada = false; // its origin has been checked on the head
    // Fed with the body as it arrives, for a request that takes one; decided once the head is in.
    std::unique_ptr<LectorBase64JSON> lector;
    bool lectorDecidido = false;
};

namespace {

// With every slot busy and connections waiting, a slot quiet for this long gives way to a waiting connection that
// has sent nothing yet: idle connections (a browser's spare sockets, or someone holding slots on purpose) must not
// keep requests out.
constexpr qint64 kQuietudDesalojoMs = 1000;
// How often waiting connections look again for a slot to take; a pass with nothing to take costs a scan of the slots.
constexpr int kReintentoDesalojoMs = 20;

// A request is given kPlazoBaseMs plus the time its declared body takes at kRitmoMinimo; far more than a page on
// this machine needs (64 MiB arrive in well under a second), far less than "as long as the sender likes".
constexpr qint64 kRitmoMinimo = 1024 * 1024; // bytes per second
// A waiting connection takes the slot of the request furthest behind that schedule, once it is this far behind:
// a waiting request that is already complete sooner than one still arriving. A request arriving at loopback speed
// stays ahead of its schedule by what it has sent; the grace covers only its first moments.
constexpr qint64 kGraciaCompletaMs = 50;
constexpr qint64 kGraciaIncompletaMs = 1000;

// Connections waiting for a slot: each holds at most a small read buffer, the kernel keeps the rest.
constexpr qint64 kBufferEspera = 16 * 1024;
constexpr int kMaximoEsperando = 1000;

// Whether `bytes` hold a whole request: its head and the body it declares.
bool SolicitudCompleta(QByteArrayView bytes)
{
    const qsizetype blanco = bytes.indexOf("\r\n\r\n");
    if (blanco < 0) {
        return false;
    }
    const qint64 declarado = EnsambladorSolicitud::LargoDeclarado(bytes.first(blanco));
    return bytes.size() - blanco - 4 >= std::max<qint64>(0, declarado);
}

// A socket whose answer is on its way closes itself; this bounds how long a peer that never reads can keep it.
constexpr int kEsperaCierreMs = 30000;

// Below the allocator's mapping threshold (set at start-up).
constexpr qint64 kBufferLectura = 48 * 1024;

// A head still without its blank line past this size is judged on what it holds: a refused sender must not make
// the agent hold megabytes of it.
constexpr qsizetype kCabeceraSinFin = 64 * 1024;

// A request answered before its body was read (refused, too large) has the rest of its body read and dropped, so
// that closing does not reset the connection and take the answer with it. Bounded in time and in number.
constexpr int kEsperaDescarteMs = 10000;
constexpr int kMaximoDescartando = 256;

void CerrarCuandoSeEnvie(QTcpSocket* socket)
{
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto* limite = new QTimer(socket);
    limite->setSingleShot(true);
    QObject::connect(limite, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    limite->start(kEsperaCierreMs);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    }
}

} // namespace

ServidorWeb::ServidorWeb(const Configuracion& cfg, Endpoints endpoints, QObject* parent)
    : QObject(parent)
    , m_cfg(cfg)
    , m_manejador(cfg, std::move(endpoints))
{
    // Slot 0 exists for the whole process; 1 to 100 come and go with the listener.
    m_ranuras[0] = std::make_unique<Ranura>();
    m_reintento.setSingleShot(true);
    connect(&m_reintento, &QTimer::timeout, this, &ServidorWeb::AceptarPendientes);
    m_asignar.setSingleShot(true);
    connect(&m_asignar, &QTimer::timeout, this, &ServidorWeb::AceptarPendientes);
}

ServidorWeb::~ServidorWeb()
{
    for (const Espera& espera : m_espera) {
        if (espera.socket) {
            espera.socket->abort();
            delete espera.socket.data();
        }
    }
    for (auto& ranura : m_ranuras) {
        if (ranura && ranura->socket) {
            ranura->socket->abort();
            delete ranura->socket.data();
        }
    }
}

void ServidorWeb::FijarTiempos(int silencioCabeceraMs, int inactividadMs)
{
    m_silencioCabeceraMs = silencioCabeceraMs;
    m_inactividadMs = inactividadMs;
}

bool ServidorWeb::Escuchando() const
{
    return !m_oyentes.isEmpty();
}

quint16 ServidorWeb::PuertoLocal() const
{
    return m_oyentes.isEmpty() ? m_cfg.PuertoHTTP : m_oyentes.first()->serverPort();
}

int ServidorWeb::RanurasOcupadas() const
{
    int ocupadas = 0;
    for (const auto& ranura : m_ranuras) {
        ocupadas += (ranura && ranura->socket) ? 1 : 0;
    }
    return ocupadas;
}

int ServidorWeb::RanuraDe(quint16 puertoRemoto) const
{
    for (int i = 0; i < kRanuras; ++i) {
        if (m_ranuras[i] && m_ranuras[i]->socket && m_ranuras[i]->socket->peerPort() == puertoRemoto) {
            return i;
        }
    }
    return -1;
}

QList<QHostAddress> ServidorWeb::Direcciones(QString& error) const
{
    const QString texto = m_cfg.DireccionEscucha.trimmed();
    if (texto.isEmpty()) {
        return {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    }
    QList<QHostAddress> direcciones;
    for (const QString& parte : texto.split(u',', Qt::SkipEmptyParts)) {
        QHostAddress direccion;
        if (!direccion.setAddress(parte.trimmed())) {
            error = QStringLiteral("Dirección de escucha no válida: %1").arg(parte.trimmed());
            return {};
        }
        direcciones << direccion;
    }
    return direcciones;
}

bool ServidorWeb::IniciarServidor()
{
    for (int i = 1; i < kRanuras; ++i) {
        if (!m_ranuras[i]) {
            m_ranuras[i] = std::make_unique<Ranura>();
        }
    }
    if (!m_oyentes.isEmpty()) {
        qDeleteAll(m_oyentes);
        m_oyentes.clear();
        EscribirLog(QStringLiteral("?? Socket anterior cerrado."));
    }

    QString error;
    const QList<QHostAddress> direcciones = Direcciones(error);
    QStringList escuchadas;
    for (const QHostAddress& direccion : direcciones) {
        auto* oyente = new QTcpServer(this);
        oyente->setMaxPendingConnections(1000);
        // The largest value: the system cuts it to what it allows (somaxconn on Linux; SOMAXCONN is this very
        // value on Windows). Connections arriving in a burst wait in the kernel instead of being retried 1 s later.
        oyente->setListenBacklogSize(std::numeric_limits<int>::max());
        if (!oyente->listen(direccion, m_cfg.PuertoHTTP)) {
            const auto fallo = oyente->serverError();
            const QString descripcion = oyente->errorString();
            delete oyente;
            // A machine without IPv6 still serves on 127.0.0.1; a port taken on either address is a real failure.
            if (direccion == QHostAddress(QHostAddress::LocalHostIPv6) && m_cfg.DireccionEscucha.trimmed().isEmpty() &&
                fallo != QAbstractSocket::AddressInUseError && !m_oyentes.isEmpty()) {
                continue;
            }
            error = descripcion;
            break;
        }
        connect(oyente, &QTcpServer::pendingConnectionAvailable, this, &ServidorWeb::TomarPendientes);
        m_oyentes << oyente;
        escuchadas << direccion.toString();
    }
    if (!error.isEmpty() || m_oyentes.isEmpty()) {
        qDeleteAll(m_oyentes);
        m_oyentes.clear();
        emit falloAlIniciar(error);
        EscribirLog(QStringLiteral("? Error al iniciar el servidor Web: ") + error);
        return false;
    }
    m_aceptacionPausada = false;
    EscribirLog(QStringLiteral("?? Servidor iniciado en IP: ") + escuchadas.join(QStringLiteral(", ")) +
                QStringLiteral(" | Puerto: ") + QString::number(m_oyentes.first()->serverPort()));
    return true;
}

void ServidorWeb::DetenerServidor()
{
    if (!m_oyentes.isEmpty()) {
        qDeleteAll(m_oyentes);
        m_oyentes.clear();
        EscribirLog(QStringLiteral("?? Servidor detenido correctamente."));
    } else {
        EscribirLog(QStringLiteral("?? Servidor ya estaba detenido."));
    }
    for (int i = 1; i < kRanuras; ++i) {
        if (m_ranuras[i]) {
            Liberar(i, true);
            m_ranuras[i].reset();
        }
    }
}

int ServidorWeb::Desalojar(Clase clase)
{
    int elegida = -1;
    qint64 mayor = 0;
    const qint64 ahora = m_reloj();
    for (int i = 0; i < kRanuras; ++i) {
        const Ranura* ranura = m_ranuras[i].get();
        if (ranura == nullptr || !ranura->socket || ranura->atendida) {
            continue;
        }
        qint64 retraso = 0;
        if (clase == Clase::Vacia) {
            retraso = ahora - ranura->actividad - kQuietudDesalojoMs + 1;
        } else {
            const qint64 credito = ranura->ensamblador.Datos().size() * 1000 / kRitmoMinimo;
            retraso =
                ahora - ranura->desde - credito - (clase == Clase::Completa ? kGraciaCompletaMs : kGraciaIncompletaMs);
        }
        if (retraso > mayor) {
            mayor = retraso;
            elegida = i;
        }
    }
    if (elegida >= 0) {
        Liberar(elegida, true);
    }
    return elegida;
}

int ServidorWeb::RanuraLibre() const
{
    for (int i = 0; i < kRanuras; ++i) {
        if (m_ranuras[i] && !m_ranuras[i]->socket) {
            return i;
        }
    }
    return -1;
}

void ServidorWeb::PausarAceptacion(bool pausar)
{
    if (m_aceptacionPausada == pausar) {
        return;
    }
    m_aceptacionPausada = pausar;
    for (QTcpServer* oyente : std::as_const(m_oyentes)) {
        pausar ? oyente->pauseAccepting() : oyente->resumeAccepting();
    }
}

void ServidorWeb::Esperar(QTcpSocket* socket)
{
    // Taken from the listener at once: a connection left there would buffer all it is sent.
    socket->setParent(this);
    socket->setReadBufferSize(kBufferEspera);
    m_espera.push_back(Espera{socket, Clase::Vacia, m_reloj()});
    QPointer<QTcpSocket> puntero(socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, puntero] {
        for (Espera& espera : m_espera) {
            if (espera.socket == puntero) {
                const QByteArray visto = puntero->peek(kBufferEspera);
                espera.clase = SolicitudCompleta(visto) ? Clase::Completa : Clase::ConDatos;
                break;
            }
        }
        ProgramarAsignacion();
    });
    // What it sent before leaving is still handled; one that sent nothing is dropped at the next turn.
    connect(socket, &QTcpSocket::disconnected, this, &ServidorWeb::ProgramarAsignacion);
}

void ServidorWeb::SacarDeLosOyentes()
{
    for (QTcpServer* oyente : std::as_const(m_oyentes)) {
        while (oyente->hasPendingConnections()) {
            Esperar(oyente->nextPendingConnection());
        }
    }
}

void ServidorWeb::TomarPendientes()
{
    SacarDeLosOyentes();
    // One pass for a whole burst of connections, not one per connection.
    ProgramarAsignacion();
}

void ServidorWeb::ProgramarAsignacion()
{
    if (!m_asignar.isActive()) {
        m_asignar.start(0);
    }
}

void ServidorWeb::AceptarPendientes()
{
    SacarDeLosOyentes();
    std::erase_if(m_espera, [](const Espera& espera) {
        if (espera.socket && espera.socket->state() != QAbstractSocket::ConnectedState &&
            espera.socket->bytesAvailable() == 0) {
            espera.socket->deleteLater();
            return true;
        }
        return !espera.socket;
    });
    // Complete requests first (they need a slot only for as long as they are handled), then those under way, then
    // connections that have sent nothing; each class in order of arrival.
    for (const Clase clase : {Clase::Completa, Clase::ConDatos, Clase::Vacia}) {
        for (auto it = m_espera.begin(); it != m_espera.end();) {
            if (it->clase != clase || !it->socket) {
                ++it;
                continue;
            }
            int indice = RanuraLibre();
            if (indice < 0) {
                indice = Desalojar(clase);
            }
            if (indice < 0) {
                break;
            }
            QTcpSocket* socket = it->socket;
            const qint64 llegada = it->llegada;
            it = m_espera.erase(it);
            socket->disconnect(this);
            Ocupar(indice, socket, llegada);
        }
    }
    std::erase_if(m_espera, [](const Espera& espera) { return !espera.socket; });
    // Past the bound the oldest that have sent nothing give way; only when every one has sent something does the
    // kernel keep the rest.
    while (static_cast<int>(m_espera.size()) > kMaximoEsperando) {
        const auto vacia = std::find_if(m_espera.begin(), m_espera.end(),
                                        [](const Espera& espera) { return espera.clase == Clase::Vacia; });
        if (vacia == m_espera.end()) {
            break;
        }
        QTcpSocket* socket = vacia->socket;
        m_espera.erase(vacia);
        socket->abort();
        socket->deleteLater();
    }
    PausarAceptacion(static_cast<int>(m_espera.size()) > kMaximoEsperando);
    if (!m_espera.empty()) {
        m_reintento.start(kReintentoDesalojoMs);
    }
}

void ServidorWeb::Ocupar(int indice, QTcpSocket* socket, qint64 llegada)
{
    Ranura& ranura = *m_ranuras[indice];
    // The slot, not the listener, owns the connection: slot 0 keeps its connection across a restart.
    socket->setParent(this);
    // Small reads: each block comes from the heap and is used over and over, where reads of megabytes would map
    // fresh memory for each and fault it in page by page.
    socket->setReadBufferSize(kBufferLectura);
    ranura.socket = socket;
    ranura.generacion = ++m_generacion;
    ranura.atendida = false;
    ranura.continuarEnviado = false;
    ranura.juzgada = false;
    ranura.lector.reset();
    ranura.lectorDecidido = false;
    ranura.ensamblador.Reiniciar();
    const quint64 generacion = ranura.generacion;

    ranura.silencio.setSingleShot(true);
    ranura.inactividad.setSingleShot(true);
    ranura.silencio.disconnect();
    ranura.inactividad.disconnect();
    connect(&ranura.silencio, &QTimer::timeout, this, [this, indice, generacion] { AlSilencio(indice, generacion); });
    connect(&ranura.inactividad, &QTimer::timeout, this,
            [this, indice, generacion] { AlInactividad(indice, generacion); });
    connect(socket, &QTcpSocket::readyRead, this, [this, indice, generacion] { AlLlegarDatos(indice, generacion); });
    connect(socket, &QTcpSocket::disconnected, this, [this, indice, generacion] { AlCerrarElPar(indice, generacion); });
    ranura.plazo.setSingleShot(true);
    ranura.plazo.disconnect();
    connect(&ranura.plazo, &QTimer::timeout, this, [this, indice, generacion] { AlInactividad(indice, generacion); });
    ranura.conBytes = false;
    ranura.inactividad.start(m_inactividadMs);
    ranura.actividad = m_reloj();
    ranura.desde = llegada;
    if (socket->bytesAvailable() > 0) {
        AlLlegarDatos(indice, generacion);
    }
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        AlCerrarElPar(indice, generacion); // it left while it waited
    }
}

ServidorWeb::Ranura* ServidorWeb::RanuraViva(int indice, quint64 generacion) const
{
    Ranura* ranura = m_ranuras[indice].get();
    if (ranura == nullptr || !ranura->socket || ranura->generacion != generacion) {
        return nullptr;
    }
    return ranura;
}

void ServidorWeb::AlLlegarDatos(int indice, quint64 generacion)
{
    Ranura* ranura = RanuraViva(indice, generacion);
    if (ranura == nullptr) {
        return;
    }
    // What Qt has buffered, in one small block: readAll would grow a fresh buffer of its own on every read.
    const QByteArray bytes = ranura->socket->read(ranura->socket->bytesAvailable());
    if (ranura->atendida) {
        return; // one request per connection
    }
    if (!ranura->conBytes && !bytes.isEmpty()) {
        ranura->conBytes = true;
        ranura->desde = m_reloj();
        ranura->plazo.start(m_plazoBaseMs);
    }
    const bool teniaCabecera = ranura->ensamblador.CabeceraCompleta();
    const EnsambladorSolicitud::Estado estado = ranura->ensamblador.Agregar(bytes);
    if (estado == EnsambladorSolicitud::Estado::DemasiadoGrande) {
        EscribirLog(QStringLiteral("? Solicitud demasiado grande: supera el límite de %1 MiB, se cierra la conexión.")
                        .arg(EnsambladorSolicitud::kLimitePorDefecto / (1024 * 1024)));
        Despedir(indice, Respuesta413());
        return;
    }
    const EnsambladorSolicitud& ensamblador = ranura->ensamblador;
    if (!teniaCabecera && ensamblador.CabeceraCompleta() && estado == EnsambladorSolicitud::Estado::Incompleta) {
        const qint64 plazo = m_plazoBaseMs + ensamblador.LargoCuerpo() * 1000 / kRitmoMinimo;
        ranura->plazo.start(static_cast<int>(std::max<qint64>(1, plazo - (m_reloj() - ranura->desde))));
    }
    if (!ranura->juzgada && (ensamblador.CabeceraCompleta() || ensamblador.Datos().size() > kCabeceraSinFin)) {
        ranura->juzgada = true;
        const QByteArrayView cabecera =
            ensamblador.CabeceraCompleta() ? ensamblador.Cabecera() : QByteArrayView(ensamblador.Datos());
        if (m_manejador.RechazarAjeno(
                cabecera, [this, indice](const QByteArray& respuesta) { return Despedir(indice, respuesta); })) {
            return;
        }
    }
    if (estado == EnsambladorSolicitud::Estado::Completa) {
        Atender(indice);
        return;
    }
    if (ensamblador.PideContinuar() && !ranura->continuarEnviado) {
        ranura->continuarEnviado = true;
        ranura->socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    }
    ranura->inactividad.start(m_inactividadMs);
    ranura->actividad = m_reloj();
    if (!ensamblador.CabeceraCompleta()) {
        ranura->silencio.start(m_silencioCabeceraMs);
        return;
    }
    ranura->silencio.stop();
    // A large body is read while the rest of it is still on the wire.
    if (!ranura->lectorDecidido) {
        ranura->lectorDecidido = true;
        ranura->lector = m_manejador.LectorPara(ensamblador.Cabecera());
    }
    if (ranura->lector) {
        ranura->lector->Avanzar(ensamblador.Cuerpo());
    }
}

void ServidorWeb::AlSilencio(int indice, quint64 generacion)
{
    Ranura* ranura = RanuraViva(indice, generacion);
    if (ranura != nullptr && !ranura->atendida &&
        ranura->ensamblador.Silencio() == EnsambladorSolicitud::Estado::Completa) {
        Atender(indice);
    }
}

void ServidorWeb::AlInactividad(int indice, quint64 generacion)
{
    Ranura* ranura = RanuraViva(indice, generacion);
    if (ranura != nullptr && !ranura->atendida) {
        Liberar(indice, true);
    }
}

void ServidorWeb::AlCerrarElPar(int indice, quint64 generacion)
{
    Ranura* ranura = RanuraViva(indice, generacion);
    if (ranura == nullptr) {
        return;
    }
    if (!ranura->atendida && ranura->ensamblador.FinDelPar() == EnsambladorSolicitud::Estado::Completa) {
        // What arrived is handled as it stands; its answer has nowhere to go and the send reports that.
        Atender(indice);
        return;
    }
    if (!ranura->atendida) {
        Liberar(indice, true);
    }
    // A slot whose request is being handled stays until its answer finds the connection gone.
}

void ServidorWeb::Atender(int indice)
{
    Ranura& ranura = *m_ranuras[indice];
    ranura.atendida = true;
    ranura.silencio.stop();
    ranura.inactividad.stop();
    ranura.plazo.stop();
    const quint64 generacion = ranura.generacion;
    QPointer<ServidorWeb> yo(this);
    m_manejador.Manejar(
        ranura.ensamblador.TomarDatos(),
        [yo, indice, generacion](const QByteArray& respuesta) {
            return yo && yo->Responder(indice, generacion, respuesta);
        },
        std::move(ranura.lector));
}

bool ServidorWeb::Responder(int indice, quint64 generacion, const QByteArray& respuesta)
{
    Ranura* ranura = RanuraViva(indice, generacion);
    if (respuesta.isEmpty()) {
        if (ranura != nullptr) {
            Liberar(indice, true);
        }
        return false;
    }
    if (ranura == nullptr || ranura->socket->state() != QAbstractSocket::ConnectedState) {
        EscribirLog(QStringLiteral("? Error: El cliente cerró la conexión antes de recibir la respuesta."));
        if (ranura != nullptr) {
            Liberar(indice, true);
        }
        return false;
    }
    return EnviarYCerrar(indice, respuesta);
}

bool ServidorWeb::Entregar(int indice, const QByteArray& respuesta)
{
    QTcpSocket* socket = m_ranuras[indice]->socket;
    if (socket->write(respuesta) < 0) {
        EscribirLog(QStringLiteral("? Error: ") + socket->errorString());
        Liberar(indice, true);
        return false;
    }
    // Out now, before the answer's log line is written, rather than at the next turn of the event loop.
    socket->flush();
    return true;
}

bool ServidorWeb::EnviarYCerrar(int indice, const QByteArray& respuesta)
{
    if (!Entregar(indice, respuesta)) {
        return false;
    }
    // The slot is free as soon as the answer is handed over; the socket closes itself once it has gone out.
    Liberar(indice, false);
    return true;
}

bool ServidorWeb::Despedir(int indice, const QByteArray& respuesta)
{
    Ranura& ranura = *m_ranuras[indice];
    const EnsambladorSolicitud& ensamblador = ranura.ensamblador;
    // Unknown (-1) without a complete head: dropped until the peer stops or the time is up.
    const qint64 porDescartar = ensamblador.CabeceraCompleta()
                                    ? std::max<qint64>(0, ensamblador.LargoCuerpo() - ensamblador.CuerpoRecibido())
                                    : -1;
    QTcpSocket* socket = ranura.socket;
    if (!Entregar(indice, respuesta)) {
        return false;
    }
    Soltar(indice);
    if (porDescartar == 0 || m_descartando >= kMaximoDescartando) {
        CerrarCuandoSeEnvie(socket);
        return true;
    }
    ++m_descartando;
    connect(socket, &QObject::destroyed, this, [this] { --m_descartando; });
    auto restantes = std::make_shared<qint64>(porDescartar);
    auto descartar = [socket, restantes] {
        const qint64 leidos = socket->skip(socket->bytesAvailable());
        if (*restantes > 0 && leidos > 0) {
            *restantes = std::max<qint64>(0, *restantes - leidos);
            if (*restantes == 0) {
                socket->disconnect(socket, nullptr, socket, nullptr);
                CerrarCuandoSeEnvie(socket);
            }
        }
    };
    connect(socket, &QTcpSocket::readyRead, socket, descartar);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto limite = new QTimer(socket);
    limite->setSingleShot(true);
    connect(limite, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    limite->start(std::min(kEsperaDescarteMs, m_inactividadMs));
    descartar();
    return true;
}

QTcpSocket* ServidorWeb::Soltar(int indice)
{
    Ranura& ranura = *m_ranuras[indice];
    ranura.silencio.stop();
    ranura.inactividad.stop();
    ranura.plazo.stop();
    ranura.ensamblador.Reiniciar();
    ranura.lector.reset();
    ranura.atendida = false;
    ranura.juzgada = false;
    QTcpSocket* socket = ranura.socket;
    ranura.socket = nullptr;
    ranura.generacion = 0;
    if (socket != nullptr) {
        socket->disconnect(this);
    }
    if (!m_espera.empty()) {
        // Let the next waiting connection in once the current event is done.
        ProgramarAsignacion();
    }
    return socket;
}

void ServidorWeb::Liberar(int indice, bool abortar)
{
    QTcpSocket* socket = Soltar(indice);
    if (socket != nullptr) {
        if (abortar) {
            socket->abort();
            socket->deleteLater();
        } else {
            CerrarCuandoSeEnvie(socket);
        }
    }
}
