#pragma once

#include "base/lector_base64_json.h"
#include "base/reloj.h"
#include "http/admision.h"
#include "http/ensamblador.h"

#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

struct TiemposServidor
{
    // Quiet spell after which a head without its blank line is handled.
    int silencioCabeceraMs = 500;
    // Idle time after which a slot whose request never completed is dropped.
    int inactividadMs = 30000;
    // The time a request gets before its declared body counts.
    int plazoBaseMs = 10000;
    // Spell after which an open event stream gets a comment line, so that proxies and the browser keep it open.
    int comentarioFlujoMs = 15000;
    // The clock a slot's schedule and the refusal count are read on (timers still run in real time).
    Reloj reloj = RelojMonotono();
};

// One connection slot (`Hoe`): the connection it holds and what its one request has gathered, with the timers that
// end a request that does not come. Whatever belongs to a request starts afresh in one place, both when a
// connection takes the slot and when it leaves.
class Ranura final
{
public:
    using LectorPara = std::function<std::unique_ptr<LectorBase64JSON>(QByteArrayView cabecera)>;

    explicit Ranura(const TiemposServidor& tiempos);

    // `llegada`: when the agent took the connection, which counts as the request's age until its first byte.
    void Ocupar(QTcpSocket* conexion, quint64 nuevaGeneracion, qint64 llegada);
    // Frees the slot and hands back its socket, still open (null when the slot was free).
    QTcpSocket* Soltar();
    VistaRanura Vista() const;

    // Gathers what arrived. The request's age and its deadline start with its first byte; the deadline grows with
    // the body its head declares.
    EnsambladorSolicitud::Estado Recibir(const QByteArray& bytes);
    // The head to judge the origin on, given once: when complete, or when it has grown past what is worth holding.
    std::optional<QByteArrayView> CabeceraPorJuzgar();
    // The request is not complete yet: asks for the body when the client waits for that, restarts the quiet
    // timers, and feeds the body so far to the reader `lectorPara` gives for the head (decided once).
    void Esperar(const LectorPara& lectorPara);
    // The body bytes still due, -1 without a complete head.
    qint64 CuerpoPorLlegar() const;
    // Its request is being handled: no timer ends it, later bytes are not another request.
    void Atender();

    QPointer<QTcpSocket> socket; // null: the slot is free
    quint64 generacion = 0;      // tells a connection from the next one on the same slot
    bool atendida = false;
    EnsambladorSolicitud ensamblador;
    QTimer silencio;    // a head without its blank line is handled after a quiet spell
    QTimer inactividad; // a request that stops arriving is dropped
    QTimer plazo;       // the request's whole time, from its first byte
    // Fed with the body as it arrives, for a request that takes one.
    std::unique_ptr<LectorBase64JSON> lector;

private:
    void Reiniciar();

    const TiemposServidor& m_tiempos;
    qint64 m_actividad = 0; // the last byte's arrival, or the slot's taking before any: the slot's quiet
    // The first byte's arrival: the request's age. Before any byte, the connection's arrival, time spent waiting
    // for the slot included: a connection that has sent nothing all that while is no request in transit.
    qint64 m_desde = 0;
    bool m_conBytes = false;
    bool m_continuarEnviado = false;
    bool m_juzgada = false; // its origin has been checked on the head
    bool m_lectorDecidido = false;
};
