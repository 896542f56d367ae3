#include "http/admision.h"

#include "http/ensamblador.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace {

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

} // namespace

int ElegirRanura(std::span<const VistaRanura> ranuras, ClaseEspera clase, qint64 ahora)
{
    for (std::size_t i = 0; i < ranuras.size(); ++i) {
        if (ranuras[i].estado == VistaRanura::Estado::Libre) {
            return static_cast<int>(i);
        }
    }
    int elegida = -1;
    qint64 mayor = 0;
    for (std::size_t i = 0; i < ranuras.size(); ++i) {
        const VistaRanura& ranura = ranuras[i];
        if (ranura.estado != VistaRanura::Estado::Ocupada) {
            continue;
        }
        qint64 retraso = 0;
        if (clase == ClaseEspera::Vacia) {
            retraso = ahora - ranura.actividad - kQuietudDesalojoMs + 1;
        } else {
            const qint64 credito = ranura.recibidos * 1000 / kRitmoMinimo;
            retraso = ahora - ranura.desde - credito -
                      (clase == ClaseEspera::Completa ? kGraciaCompletaMs : kGraciaIncompletaMs);
        }
        if (retraso > mayor) {
            mayor = retraso;
            elegida = static_cast<int>(i);
        }
    }
    return elegida;
}

Admision::Admision(QObject* dueno, const QList<QTcpServer*>& oyentes, Reloj reloj, Tomar tomar, Ocupar ocupar)
    : m_dueno(dueno)
    , m_oyentes(oyentes)
    , m_reloj(std::move(reloj))
    , m_tomar(std::move(tomar))
    , m_ocupar(std::move(ocupar))
{
    m_asignar.setSingleShot(true);
    QObject::connect(&m_asignar, &QTimer::timeout, [this] { Repartir(); });
    m_reintento.setSingleShot(true);
    QObject::connect(&m_reintento, &QTimer::timeout, [this] { Repartir(); });
}

Admision::~Admision()
{
    for (const Espera& espera : m_espera) {
        if (espera.socket) {
            espera.socket->disconnect(m_dueno);
            espera.socket->abort();
            delete espera.socket.data();
        }
    }
}

void Admision::Recoger()
{
    SacarDeLosOyentes();
    // One pass for a whole burst of connections, not one per connection.
    Programar();
}

void Admision::RanuraLibre()
{
    if (!m_espera.empty()) {
        Programar();
    }
}

void Admision::Programar()
{
    if (!m_asignar.isActive()) {
        m_asignar.start(0);
    }
}

void Admision::SacarDeLosOyentes()
{
    for (QTcpServer* oyente : m_oyentes) {
        while (oyente->hasPendingConnections()) {
            Esperar(oyente->nextPendingConnection());
        }
    }
}

void Admision::Esperar(QTcpSocket* socket)
{
    // Taken from the listener at once: a connection left there would buffer all it is sent.
    socket->setParent(m_dueno);
    socket->setReadBufferSize(kBufferEspera);
    m_espera.push_back(Espera{socket, ClaseEspera::Vacia, m_reloj()});
    QPointer<QTcpSocket> puntero(socket);
    QObject::connect(socket, &QTcpSocket::readyRead, m_dueno, [this, puntero] {
        for (Espera& espera : m_espera) {
            if (espera.socket == puntero) {
                espera.clase =
                    SolicitudCompleta(puntero->peek(kBufferEspera)) ? ClaseEspera::Completa : ClaseEspera::ConDatos;
                break;
            }
        }
        Programar();
    });
    // What it sent before leaving is still handled; one that sent nothing is dropped at the next pass.
    QObject::connect(socket, &QTcpSocket::disconnected, m_dueno, [this] { Programar(); });
}

void Admision::Pausar(bool pausar)
{
    if (m_pausada == pausar) {
        return;
    }
    m_pausada = pausar;
    for (QTcpServer* oyente : m_oyentes) {
        pausar ? oyente->pauseAccepting() : oyente->resumeAccepting();
    }
}

void Admision::Repartir()
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
    for (const ClaseEspera clase : {ClaseEspera::Completa, ClaseEspera::ConDatos, ClaseEspera::Vacia}) {
        for (auto it = m_espera.begin(); it != m_espera.end();) {
            if (it->clase != clase || !it->socket) {
                ++it;
                continue;
            }
            const int indice = m_tomar(clase);
            if (indice < 0) {
                break;
            }
            QTcpSocket* socket = it->socket;
            const qint64 llegada = it->llegada;
            it = m_espera.erase(it);
            socket->disconnect(m_dueno);
            m_ocupar(indice, socket, llegada);
        }
    }
    std::erase_if(m_espera, [](const Espera& espera) { return !espera.socket; });
    // Past the bound the oldest that have sent nothing give way; only when every one has sent something does the
    // kernel keep the rest.
    while (static_cast<int>(m_espera.size()) > kMaximoEsperando) {
        const auto vacia = std::find_if(m_espera.begin(), m_espera.end(),
                                        [](const Espera& espera) { return espera.clase == ClaseEspera::Vacia; });
        if (vacia == m_espera.end()) {
            break;
        }
        QTcpSocket* socket = vacia->socket;
        m_espera.erase(vacia);
        socket->abort();
        socket->deleteLater();
    }
    Pausar(static_cast<int>(m_espera.size()) > kMaximoEsperando);
    if (!m_espera.empty()) {
        m_reintento.start(kReintentoDesalojoMs);
    }
}
