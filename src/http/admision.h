#pragma once

#include "base/reloj.h"

#include <QByteArrayView>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QtGlobal>

#include <deque>
#include <functional>
#include <span>

class QTcpServer;
class QTcpSocket;

// Who gets a connection slot while every slot is busy: the connections waiting for one, and which busy slot a
// waiting connection may take over.

// A slot quiet for this long gives way to a waiting connection that has sent nothing yet: idle connections (a
// browser's spare sockets, or someone holding slots on purpose) must not keep requests out.
constexpr qint64 kQuietudDesalojoMs = 1000;
// How often waiting connections look again for a slot to take; a pass with nothing to take costs a scan of the slots.
constexpr int kReintentoDesalojoMs = 20;
// A request is given a base time plus the time its declared body takes at kRitmoMinimo; far more than a page on
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

// What a waiting connection has sent so far; complete requests go first, as they need a slot only while handled.
enum class ClaseEspera
{
    Completa, // a whole request
    ConDatos, // part of one
    Vacia,    // nothing yet
};

// What the choice of a slot sees of one.
struct VistaRanura
{
    enum class Estado
    {
        Ausente, // not created (slots 1 to 100 while the listener is stopped)
        Libre,
        Ocupada,  // gathering its request: may be taken over
        Atendida, // its request is being handled: never taken over
    };
    Estado estado = Estado::Ausente;
    qint64 actividad = 0; // the last byte's arrival, or the slot's taking before any
    qint64 desde = 0;     // the first byte's arrival, or the connection's arrival before any (waiting included)
    qint64 recibidos = 0; // bytes of its request so far
};

// The slot a waiting connection of class `clase` takes at `ahora`: the lowest free one; else the busy one furthest
// behind its schedule, whose connection is then dropped; -1 when none may be taken.
int ElegirRanura(std::span<const VistaRanura> ranuras, ClaseEspera clase, qint64 ahora);

// Connections taken from the listeners that have no slot yet, in order of arrival, and the passes that hand them
// slots: one for a whole burst of connections, and again every kReintentoDesalojoMs while any are waiting.
class Admision final
{
public:
    // The slot for a waiting connection of a class, its occupant dropped if it is taken over; -1: none.
    using Tomar = std::function<int(ClaseEspera)>;
    // Receives a connection for the slot `Tomar` gave, no longer tied to the queue.
    using Ocupar = std::function<void(int indice, QTcpSocket* socket, qint64 llegada)>;

    // The sockets become children of `dueno`. `oyentes` is read at each pass.
    Admision(QObject* dueno, const QList<QTcpServer*>& oyentes, Reloj reloj, Tomar tomar, Ocupar ocupar);
    ~Admision();
    Admision(const Admision&) = delete;
    Admision& operator=(const Admision&) = delete;

    // Takes what the listeners hold and schedules a pass.
    void Recoger();
    // A slot came free: a pass once the current event is done, when anyone waits.
    void RanuraLibre();
    // New listeners accept.
    void Reanudar() { m_pausada = false; }
    // No connection waits for a slot.
    bool SinEspera() const { return m_espera.empty(); }

private:
    struct Espera
    {
        QPointer<QTcpSocket> socket;
        ClaseEspera clase = ClaseEspera::Vacia;
        qint64 llegada = 0; // when the agent took the connection
    };

    void SacarDeLosOyentes();
    void Esperar(QTcpSocket* socket);
    void Programar();
    void Repartir();
    void Pausar(bool pausar);

    QObject* m_dueno;
    const QList<QTcpServer*>& m_oyentes;
    Reloj m_reloj;
    Tomar m_tomar;
    Ocupar m_ocupar;
    std::deque<Espera> m_espera;
    bool m_pausada = false;
    QTimer m_asignar;
    QTimer m_reintento;
};
