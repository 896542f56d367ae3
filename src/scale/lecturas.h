#pragma once

#include "scale/balanza.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>
#include <vector>

// The weight as the web pages ask for it: one reading, a settled weight, or every change while someone follows it.
// Whatever needs readings repeatedly (followers, pages waiting for a settled weight) shares one schedule, a reading
// every IntervaloBalanza with the protocol's own cycle; single requests made while it runs are answered from its
// latest reading when that is younger than one interval, so the line carries one polling schedule.
class LecturasBalanza final : public QObject
{
    Q_OBJECT

public:
    using AlLeer = Balanza::AlLeer;

    LecturasBalanza(Balanza& balanza, const Configuracion& cfg, QObject* parent = nullptr);
    ~LecturasBalanza() override;

    // GET /pesoBalanza: the weight text, with the log lines of a reading.
    void PedirPeso(Responder alTerminar);
    // GET /balanza: one reading.
    void Leer(AlLeer alLeer);
    // GET /balanza/estable: readings until the same weight has held EstableMs (answered with estable true), or, after
    // EsperaEstable or on an error, the last reading with estable false.
    void EsperarEstable(AlLeer alLeer);

    // A follower: `alCambiar` gets the latest reading soon after this call when the schedule already runs, then
    // every reading whose weight, state or stability differs from the one before. The schedule runs while there is
    // at least one follower. Returns the id to leave with; the callback is never called after Desuscribir.
    int Suscribir(AlLeer alCambiar);
    void Desuscribir(int id);
    int Suscriptores() const { return int(m_suscriptores.size()); }

    // The GET /balanza document of a reading, its age counted to now.
    QString Documento(const LecturaBalanza& lectura) const;
    // The latest reading's document; empty when no reading has been made yet.
    QString DocumentoActual() const;
    // Whether the schedule runs (followers or pages waiting for a settled weight).
    bool Sondeando() const { return m_activo; }

signals:
    // The same readings the followers get.
    void cambio(const LecturaBalanza& lectura);

private:
    struct EsperaEstable
    {
        AlLeer alLeer;
        qint64 llegada;
        qint64 limite;
    };

    // The latest reading when the schedule runs and it is younger than one interval.
    const LecturaBalanza* Reciente() const;
    void Actualizar();
    void LeerProgramada();
    void AlLeerProgramada(const LecturaBalanza& lectura);
    void Notificar(const LecturaBalanza& lectura);
    void ResolverEsperas(const LecturaBalanza& lectura);
    void AlVencerEspera();
    void Entregar(const std::vector<AlLeer>& resueltas, const LecturaBalanza& respuesta);
    void ProgramarVencimiento();

    Balanza& m_balanza;
    Configuracion m_cfg;
    QTimer m_proxima;     // the next scheduled reading
    QTimer m_vencimiento; // the earliest EsperaEstable deadline
    bool m_activo = false;
    bool m_leyendo = false;     // a scheduled reading is under way
    qint64 m_inicioLectura = 0; // when the last scheduled reading started
    bool m_primeraDelTurno = false;
    std::optional<LecturaBalanza> m_notificada; // the last reading the followers got
    std::optional<LecturaBalanza::Estado> m_estadoRegistrado;
    std::map<int, AlLeer> m_suscriptores;
    int m_proximoId = 1;
    std::vector<EsperaEstable> m_esperas;
};
