#pragma once

#include "http/admision.h"
#include "http/cierre.h"
#include "http/flujos.h"
#include "http/manejador.h"
#include "http/ranura.h"
#include "http/rutas.h"
#include "settings/configuracion.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include <array>
#include <memory>
#include <vector>

class QTcpServer;

// The listener (`Pimp`) and its connection slots (`Hoe`, 0 to 100). Each connection lives on the lowest free slot,
// gathers one request, gets one answer and is closed. When every slot is busy, new connections wait, and a waiting
// connection may take the slot of a request that is far behind its schedule.
class ServidorWeb final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRanuras = 101;

    ServidorWeb(const Configuracion& cfg, Endpoints endpoints, TiemposServidor tiempos, QObject* parent = nullptr);
    ~ServidorWeb() override;

    bool IniciarServidor();
    void DetenerServidor();

    bool Escuchando() const;
    quint16 PuertoLocal() const;
    // No connection is held: none waits for a slot, no slot has one. What can wait for the agent to be idle uses it.
    bool Ocioso() const;
    // Event streams open now.
    int FlujosAbiertos() const { return m_flujos.Abiertos(); }
    // Ends the event streams, the listener going on.
    void CerrarFlujos() { m_flujos.CerrarTodos(); }

signals:
    // The listener could not start; emitted before the failure is logged, so whoever tells the user goes first.
    void falloAlIniciar(const QString& descripcion);

private:
    QList<QHostAddress> Direcciones(QString& error) const;
    void CrearRanura(int indice);
    // The slot for a waiting connection of `clase`, its occupant dropped when it is taken over; -1 when none.
    int TomarRanura(ClaseEspera clase);
    void Ocupar(int indice, QTcpSocket* socket, qint64 llegada);
    void AlLlegarDatos(int indice, quint64 generacion);
    void Recibir(int indice, quint64 generacion);
    void AlCerrarElPar(int indice, quint64 generacion);
    void AlSilencio(int indice);
    void AlInactividad(int indice);
    void Atender(int indice);
    bool Responder(int indice, quint64 generacion, const QByteArray& respuesta);
    // Hands the answer over; false (logged, slot freed) when the socket takes none of it.
    bool Entregar(int indice, const QByteArray& respuesta);
    // Answers a request whose body is not wanted and frees its slot; the rest of the body is read and dropped.
    bool Despedir(int indice, const QByteArray& respuesta);
    // Frees the slot and hands back its socket, still open. An answer that stays open takes its socket from here,
    // out of the slot's timers, its deadline and any taking over.
    QTcpSocket* Soltar(int indice);
    void AbrirFlujo(int indice, quint64 generacion);
    void Liberar(int indice, bool abortar);
    Ranura* RanuraViva(int indice, quint64 generacion) const;

    const Configuracion& m_cfg;
    const TiemposServidor m_tiempos;
    ManejadorSolicitudes m_manejador;
    FlujosBalanza m_flujos;
    QList<QTcpServer*> m_oyentes;                            // `Pimp`: one listening socket per address
    std::array<std::unique_ptr<Ranura>, kRanuras> m_ranuras; // `Hoe`
    quint64 m_generacion = 0;
    Admision m_admision;
    Descartes m_descartes;
    // While data that arrived is handled, answers wait here to go out after that pass's log lines are in the file.
    bool m_enPasada = false;
    std::vector<QPointer<QTcpSocket>> m_porEnviar;
};
