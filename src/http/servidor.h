#pragma once

#include "base/reloj.h"
#include "http/ensamblador.h"
#include "http/manejador.h"
#include "http/rutas.h"
#include "settings/configuracion.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <deque>
#include <memory>

class QTcpServer;
class QTcpSocket;

// The listener (`Pimp`) and its connection slots (`Hoe`, 0 to 100). Each connection lives on the lowest free slot,
// gathers one request, gets one answer and is closed. When every slot is busy, new connections wait, and a waiting
// connection may take the slot of a request that is far behind its schedule.
class ServidorWeb final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRanuras = 101;

    ServidorWeb(const Configuracion& cfg, Endpoints endpoints, QObject* parent = nullptr);
    ~ServidorWeb() override;

    bool IniciarServidor();
    void DetenerServidor();

    bool Escuchando() const;
    quint16 PuertoLocal() const;
    // Test hooks: which slot a connection gets is not visible from outside, yet it decides who waits when all are busy.
    int RanurasOcupadas() const;
    int RanuraDe(quint16 puertoRemoto) const; // the slot serving a peer's local port, or -1

    // Quiet spell after which a head without its blank line is handled, and idle time after which a slot whose
    // request never completed is dropped.
    void FijarTiempos(int silencioCabeceraMs, int inactividadMs);
    // The time a request gets before its declared body counts.
    void FijarPlazoBase(int ms) { m_plazoBaseMs = ms; }
    // The clock a slot's schedule is read on (its timers still run in real time).
    void FijarReloj(Reloj reloj) { m_reloj = std::move(reloj); }

signals:
    // The listener could not start; emitted before the failure is logged, so whoever tells the user goes first.
    void falloAlIniciar(const QString& descripcion);

private:
    struct Ranura;
    enum class Clase
    {
        Completa, // a whole request has arrived
        ConDatos, // part of one
        Vacia,    // nothing yet
    };
    struct Espera
    {
        QPointer<QTcpSocket> socket;
        Clase clase = Clase::Vacia;
        qint64 llegada = 0; // when the agent took the connection
    };

    QList<QHostAddress> Direcciones(QString& error) const;
    void AceptarPendientes();
    void TomarPendientes();
    void SacarDeLosOyentes();
    void Esperar(QTcpSocket* socket);
    void ProgramarAsignacion();
    void PausarAceptacion(bool pausar);
    int RanuraLibre() const;
    int Desalojar(Clase clase);
    void Ocupar(int indice, QTcpSocket* socket, qint64 llegada);
    void AlLlegarDatos(int indice, quint64 generacion);
    void AlCerrarElPar(int indice, quint64 generacion);
    void AlSilencio(int indice, quint64 generacion);
    void AlInactividad(int indice, quint64 generacion);
    void Atender(int indice);
    bool Responder(int indice, quint64 generacion, const QByteArray& respuesta);
    // Hands the answer over; false (logged, slot freed) when the socket takes none of it.
    bool Entregar(int indice, const QByteArray& respuesta);
    bool EnviarYCerrar(int indice, const QByteArray& respuesta);
    // Answers a request whose body is not wanted and frees its slot; the rest of the body is read and dropped.
    bool Despedir(int indice, const QByteArray& respuesta);
    QTcpSocket* Soltar(int indice); // frees the slot and hands back its socket, still open
    void Liberar(int indice, bool abortar);
    Ranura* RanuraViva(int indice, quint64 generacion) const;

    const Configuracion& m_cfg;
    ManejadorSolicitudes m_manejador;
    QList<QTcpServer*> m_oyentes;                            // `Pimp`: one listening socket per address
    std::array<std::unique_ptr<Ranura>, kRanuras> m_ranuras; // `Hoe`
    quint64 m_generacion = 0;
    int m_silencioCabeceraMs = 500;
    int m_inactividadMs = 30000;
    int m_plazoBaseMs = 10000;
    Reloj m_reloj = RelojMonotono();
    std::deque<Espera> m_espera; // connections waiting for a slot, in order of arrival
    bool m_aceptacionPausada = false;
    int m_descartando = 0; // answered sockets still dropping a body
    QTimer m_reintento;
    QTimer m_asignar;
};
