#include "http/flujos.h"

#include "base/registro.h"
#include "http/cierre.h"
#include "http/protocolo.h"

#include <QPointer>
#include <QTcpSocket>

FlujosBalanza::FlujosBalanza(const Configuracion& cfg, const Endpoints& endpoints, int comentarioMs, QObject* parent)
    : QObject(parent)
    , m_cfg(cfg)
    , m_suscribir(endpoints.suscribirBalanza)
    , m_desuscribir(endpoints.desuscribirBalanza)
{
    m_comentario.setInterval(comentarioMs);
    connect(&m_comentario, &QTimer::timeout, this, &FlujosBalanza::Comentar);
}

FlujosBalanza::~FlujosBalanza()
{
    CerrarTodos();
}

void FlujosBalanza::Abrir(QTcpSocket* socket)
{
    if (Abiertos() >= m_cfg.OyentesBalanza) {
        EscribirLog(QStringLiteral("? Demasiadas conexiones a la balanza: ya escuchan %1.").arg(Abiertos()));
        socket->write(Respuesta503(kCuerpoDemasiadosOyentes));
        socket->flush();
        CerrarCuandoSeEnvie(socket);
        return;
    }
    socket->setParent(this);
    m_flujos[socket] = 0;
    // Nothing more is expected from the peer; whatever it sends is dropped unread.
    connect(socket, &QTcpSocket::readyRead, this, [socket] { socket->skip(socket->bytesAvailable()); });
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket] { Cerrar(socket, QStringLiteral("el cliente cerró la conexión")); });
    Enviar(socket, CabeceraFlujo(kReintentoMs));
    m_flujos[socket] =
        m_suscribir([this, socket](const QString& documento) { Enviar(socket, EventoFlujo(documento)); });
    if (!m_comentario.isActive()) {
        m_comentario.start();
    }
    EscribirLog(QStringLiteral("Flujo de la balanza abierto (%1 de %2).").arg(Abiertos()).arg(m_cfg.OyentesBalanza));
    if (socket->state() != QAbstractSocket::ConnectedState) {
        Cerrar(socket, QStringLiteral("el cliente cerró la conexión"));
    }
}

void FlujosBalanza::Enviar(QTcpSocket* socket, const QByteArray& bytes)
{
    if (socket->bytesToWrite() > kPendienteMaximo) {
        CerrarLuego(socket, QStringLiteral("el cliente no lee los eventos"));
        return;
    }
    if (socket->write(bytes) < 0) {
        CerrarLuego(socket, socket->errorString());
        return;
    }
    socket->flush();
}

void FlujosBalanza::CerrarLuego(QTcpSocket* socket, const QString& motivo)
{
    // From the event loop: this may run inside the scale's round of callbacks.
    QMetaObject::invokeMethod(
        this,
        [this, vivo = QPointer<QTcpSocket>(socket), motivo] {
            if (vivo) {
                Cerrar(vivo, motivo);
            }
        },
        Qt::QueuedConnection);
}

void FlujosBalanza::Comentar()
{
    for (const auto& [socket, id] : m_flujos) {
        Enviar(socket, QByteArrayLiteral(":\n\n"));
    }
}

void FlujosBalanza::Cerrar(QTcpSocket* socket, const QString& motivo)
{
    const auto it = m_flujos.find(socket);
    if (it == m_flujos.end()) {
        return;
    }
    const int id = it->second;
    m_flujos.erase(it);
    if (id != 0) {
        m_desuscribir(id);
    }
    socket->disconnect(this);
    Abortar(socket);
    if (m_flujos.empty()) {
        m_comentario.stop();
    }
    EscribirLog(QStringLiteral("Flujo de la balanza cerrado: %1 (%2 de %3).")
                    .arg(motivo)
                    .arg(Abiertos())
                    .arg(m_cfg.OyentesBalanza));
}

void FlujosBalanza::CerrarTodos()
{
    while (!m_flujos.empty()) {
        Cerrar(m_flujos.begin()->first, QStringLiteral("el servidor se detiene"));
    }
}
