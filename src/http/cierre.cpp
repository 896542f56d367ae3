#include "http/cierre.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

constexpr int kEsperaCierreMs = 30000;
constexpr int kEsperaDescarteMs = 10000;
constexpr int kMaximoDescartando = 256;

// The socket goes when its peer leaves, and at the latest after `ms`.
void AbortarTras(QTcpSocket* socket, int ms)
{
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto* limite = new QTimer(socket);
    limite->setSingleShot(true);
    QObject::connect(limite, &QTimer::timeout, socket, [socket] { Abortar(socket); });
    limite->start(ms);
}

} // namespace

void Abortar(QTcpSocket* socket)
{
    socket->abort();
    socket->deleteLater();
}

void CerrarCuandoSeEnvie(QTcpSocket* socket)
{
    AbortarTras(socket, kEsperaCierreMs);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
    }
}

void Descartes::Despedir(QTcpSocket* socket, qint64 porDescartar, int limiteMs)
{
    if (porDescartar == 0 || m_enCurso >= kMaximoDescartando) {
        CerrarCuandoSeEnvie(socket);
        return;
    }
    ++m_enCurso;
    QObject::connect(socket, &QObject::destroyed, &m_contexto, [this] { --m_enCurso; });
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
    QObject::connect(socket, &QTcpSocket::readyRead, socket, descartar);
    AbortarTras(socket, std::min(kEsperaDescarteMs, limiteMs));
    descartar();
}
