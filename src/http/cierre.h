#pragma once

#include <QObject>
#include <QtGlobal>

class QTcpSocket;

// Drops the connection at once.
void Abortar(QTcpSocket* socket);

// Closes a socket whose answer has been handed over, once it has gone out; a peer that never reads keeps it for a
// bounded time only.
void CerrarCuandoSeEnvie(QTcpSocket* socket);

// Sockets answered before their request's body was read (refused, too large): the rest of the body is read and
// dropped, so that closing does not reset the connection and take the answer with it. Bounded in time and number.
class Descartes final
{
public:
    // `porDescartar`: body bytes still due, -1 when unknown (dropped until the peer stops or the time is up).
    void Despedir(QTcpSocket* socket, qint64 porDescartar, int limiteMs);

private:
    QObject m_contexto; // ends the count's connections with this
    int m_enCurso = 0;
};
