#include "http/servidor.h"

#include "base/registro.h"
#include "http/protocolo.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <limits>
#include <utility>

ServidorWeb::ServidorWeb(const Configuracion& cfg, Endpoints endpoints, TiemposServidor tiempos, QObject* parent)
    : QObject(parent)
    , m_cfg(cfg)
    , m_tiempos(std::move(tiempos))
    , m_manejador(cfg, endpoints, m_tiempos.reloj)
    , m_flujos(cfg, endpoints, m_tiempos.comentarioFlujoMs)
    , m_admision(
          this, m_oyentes, m_tiempos.reloj, [this](ClaseEspera clase) { return TomarRanura(clase); },
          [this](int indice, QTcpSocket* socket, qint64 llegada) { Ocupar(indice, socket, llegada); })
{
    // Slot 0 exists for the whole process; 1 to 100 come and go with the listener.
    CrearRanura(0);
}

ServidorWeb::~ServidorWeb()
{
    m_flujos.CerrarTodos();
    for (auto& ranura : m_ranuras) {
        if (ranura && ranura->socket) {
            ranura->socket->abort();
            delete ranura->socket.data();
        }
    }
}

bool ServidorWeb::Escuchando() const
{
    return !m_oyentes.isEmpty();
}

bool ServidorWeb::Ocioso() const
{
    if (!m_admision.SinEspera()) {
        return false;
    }
    return std::none_of(m_ranuras.begin(), m_ranuras.end(),
                        [](const std::unique_ptr<Ranura>& ranura) { return ranura && ranura->socket; });
}

quint16 ServidorWeb::PuertoLocal() const
{
    return m_oyentes.isEmpty() ? m_cfg.PuertoHTTP : m_oyentes.first()->serverPort();
}

void ServidorWeb::CrearRanura(int indice)
{
    m_ranuras[indice] = std::make_unique<Ranura>(m_tiempos);
    Ranura& ranura = *m_ranuras[indice];
    // The timers stop whenever the slot is let go, so whatever they find is the slot's present connection.
    connect(&ranura.silencio, &QTimer::timeout, this, [this, indice] { AlSilencio(indice); });
    connect(&ranura.inactividad, &QTimer::timeout, this, [this, indice] { AlInactividad(indice); });
    connect(&ranura.plazo, &QTimer::timeout, this, [this, indice] { AlInactividad(indice); });
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
            CrearRanura(i);
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
        connect(oyente, &QTcpServer::pendingConnectionAvailable, this, [this] { m_admision.Recoger(); });
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
    m_admision.Reanudar();
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
    m_flujos.CerrarTodos();
    for (int i = 1; i < kRanuras; ++i) {
        if (m_ranuras[i]) {
            Liberar(i, true);
            m_ranuras[i].reset();
        }
    }
}

int ServidorWeb::TomarRanura(ClaseEspera clase)
{
    std::array<VistaRanura, kRanuras> vista;
    for (int i = 0; i < kRanuras; ++i) {
        if (m_ranuras[i]) {
            vista[i] = m_ranuras[i]->Vista();
        }
    }
    const int indice = ElegirRanura(vista, clase, m_tiempos.reloj());
    if (indice >= 0 && vista[indice].estado != VistaRanura::Estado::Libre) {
        Liberar(indice, true);
    }
    return indice;
}

void ServidorWeb::Ocupar(int indice, QTcpSocket* socket, qint64 llegada)
{
    Ranura& ranura = *m_ranuras[indice];
    // The slot, not the listener, owns the connection: slot 0 keeps its connection across a restart.
    socket->setParent(this);
    ranura.Ocupar(socket, ++m_generacion, llegada);
    const quint64 generacion = ranura.generacion;
    connect(socket, &QTcpSocket::readyRead, this, [this, indice, generacion] { AlLlegarDatos(indice, generacion); });
    connect(socket, &QTcpSocket::disconnected, this, [this, indice, generacion] { AlCerrarElPar(indice, generacion); });
    if (socket->bytesAvailable() > 0) {
        AlLlegarDatos(indice, generacion);
    }
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        AlCerrarElPar(indice, generacion); // it left while it waited
    }
}

Ranura* ServidorWeb::RanuraViva(int indice, quint64 generacion) const
{
    Ranura* ranura = m_ranuras[indice].get();
    if (ranura == nullptr || !ranura->socket || ranura->generacion != generacion) {
        return nullptr;
    }
    return ranura;
}

void ServidorWeb::AlLlegarDatos(int indice, quint64 generacion)
{
    // A request answered at once: its lines, the answer's included, reach the log in one write, and then the answer
    // goes out. Whoever reads the log on getting the answer finds them all.
    m_enPasada = true;
    {
        const LoteRegistro lote;
        Recibir(indice, generacion);
    }
    m_enPasada = false;
    for (const QPointer<QTcpSocket>& socket : std::exchange(m_porEnviar, {})) {
        if (socket) {
            socket->flush();
        }
    }
}

void ServidorWeb::Recibir(int indice, quint64 generacion)
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
    const EnsambladorSolicitud::Estado estado = ranura->Recibir(bytes);
    if (estado == EnsambladorSolicitud::Estado::DemasiadoGrande) {
        EscribirLog(QStringLiteral("? Solicitud demasiado grande: supera el límite de %1 MiB, se cierra la conexión.")
                        .arg(EnsambladorSolicitud::kLimitePorDefecto / (1024 * 1024)));
        Despedir(indice, Respuesta413());
        return;
    }
    if (const auto cabecera = ranura->CabeceraPorJuzgar();
        cabecera && m_manejador.RechazarAjeno(*cabecera, [this, indice](const QByteArray& respuesta) {
            return Despedir(indice, respuesta);
        })) {
        return;
    }
    if (estado == EnsambladorSolicitud::Estado::Completa) {
        Atender(indice);
        return;
    }
    ranura->Esperar([this](QByteArrayView cabecera) { return m_manejador.LectorPara(cabecera); });
}

void ServidorWeb::AlSilencio(int indice)
{
    Ranura& ranura = *m_ranuras[indice];
    if (ranura.socket && !ranura.atendida && ranura.ensamblador.Silencio() == EnsambladorSolicitud::Estado::Completa) {
        Atender(indice);
    }
}

void ServidorWeb::AlInactividad(int indice)
{
    Ranura& ranura = *m_ranuras[indice];
    if (ranura.socket && !ranura.atendida) {
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
    ranura.Atender();
    const quint64 generacion = ranura.generacion;
    QPointer<ServidorWeb> yo(this);
    m_manejador.Manejar(
        ranura.ensamblador.TomarDatos(),
        [yo, indice, generacion](const QByteArray& respuesta) {
            return yo && yo->Responder(indice, generacion, respuesta);
        },
        std::move(ranura.lector), [this, indice, generacion] { AbrirFlujo(indice, generacion); });
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
    if (!Entregar(indice, respuesta)) {
        return false;
    }
    // The slot is free as soon as the answer is handed over; the socket closes itself once it has gone out.
    Liberar(indice, false);
    return true;
}

bool ServidorWeb::Entregar(int indice, const QByteArray& respuesta)
{
    QTcpSocket* socket = m_ranuras[indice]->socket;
    if (socket->write(respuesta) < 0) {
        EscribirLog(QStringLiteral("? Error: ") + socket->errorString());
        Liberar(indice, true);
        return false;
    }
    // Out in this turn of the event loop, not the next: now, or right after the log lines of the pass handling it.
    if (m_enPasada) {
        m_porEnviar.emplace_back(socket);
    } else {
        socket->flush();
    }
    return true;
}

bool ServidorWeb::Despedir(int indice, const QByteArray& respuesta)
{
    const qint64 porDescartar = m_ranuras[indice]->CuerpoPorLlegar();
    QTcpSocket* socket = m_ranuras[indice]->socket;
    if (!Entregar(indice, respuesta)) {
        return false;
    }
    Soltar(indice);
    m_descartes.Despedir(socket, porDescartar, m_tiempos.inactividadMs);
    return true;
}

QTcpSocket* ServidorWeb::Soltar(int indice)
{
    QTcpSocket* socket = m_ranuras[indice]->Soltar();
    if (socket != nullptr) {
        socket->disconnect(this);
    }
    m_admision.RanuraLibre();
    return socket;
}

void ServidorWeb::AbrirFlujo(int indice, quint64 generacion)
{
    if (RanuraViva(indice, generacion) == nullptr) {
        return;
    }
    m_flujos.Abrir(Soltar(indice));
}

void ServidorWeb::Liberar(int indice, bool abortar)
{
    QTcpSocket* socket = Soltar(indice);
    if (socket != nullptr) {
        abortar ? Abortar(socket) : CerrarCuandoSeEnvie(socket);
    }
}
