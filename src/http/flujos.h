#pragma once

#include "http/rutas.h"
#include "settings/configuracion.h"

#include <QObject>
#include <QTimer>

#include <map>

class QTcpSocket;

// The connections that stay open to follow the scale (Server-Sent Events). Each holds its own subscription and gets
// an event per change and a comment line every so often, so that proxies and the browser keep it open. They take no
// request slot and have no deadline: they end when the peer leaves or stops reading, or when the server stops.
class FlujosBalanza final : public QObject
{
    Q_OBJECT

public:
    // The browser's EventSource waits this long before it connects again.
    static constexpr int kReintentoMs = 2000;
    // Answer bytes a peer may leave unread before its stream is dropped.
    static constexpr qint64 kPendienteMaximo = 256 * 1024;

    FlujosBalanza(const Configuracion& cfg, const Endpoints& endpoints, int comentarioMs, QObject* parent = nullptr);
    ~FlujosBalanza() override;

    // Takes over the connection of a request for the stream, refused with 503 when OyentesBalanza already listen.
    void Abrir(QTcpSocket* socket);
    // Ends every stream (the server stops).
    void CerrarTodos();
    int Abiertos() const { return int(m_flujos.size()); }

private:
    void Enviar(QTcpSocket* socket, const QByteArray& bytes);
    void Cerrar(QTcpSocket* socket, const QString& motivo);
    void CerrarLuego(QTcpSocket* socket, const QString& motivo);
    void Comentar();

    const Configuracion& m_cfg;
    std::function<int(std::function<void(const QString&)>)> m_suscribir;
    std::function<void(int)> m_desuscribir;
    std::map<QTcpSocket*, int> m_flujos; // the socket and its subscription
    QTimer m_comentario;
};
