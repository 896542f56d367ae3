#pragma once

#include "base/reloj.h"
#include "base/responder.h"
#include "printing/spooler.h"

#include <QHash>
#include <QList>
#include <QString>

// The jobs the agent handed on, by its own ids ("1", "2"... within a run), kept in memory only: the last kMaximo
// of the last kVidaMs. A job's state is asked of the spooler when someone asks for it, at most once per job every
// kIntervaloMs: whoever asks while the spooler's answer is on its way waits for that same answer.
class TablaTrabajos final
{
public:
    static constexpr qsizetype kMaximo = 1000;
    static constexpr qint64 kVidaMs = 24LL * 60 * 60 * 1000;
    static constexpr qint64 kIntervaloMs = 500;
    // How long a job known only by its document name is looked for in the printer's queue.
    static constexpr qint64 kBusquedaMs = 2 * 60 * 1000;

    // `spooler` (may be null: no state beyond what the agent itself knows) must outlive the table.
    explicit TablaTrabajos(Spooler* spooler, Reloj reloj);

    // A job handed to `cola` (the spooler's name of the printer asked for as `impresora`). Known by the spooler's
    // `idSpooler`, or, when that is empty, by `documento` (its document name) or later through Encolado.
    QString Agregar(const QString& impresora, const QString& cola, const QString& idSpooler,
                    const QString& documento = QString());
    // The spooler's id of a job added without one, or, when it refused the job, the reason.
    void Encolado(const QString& id, const QString& idSpooler, const QString& fallo);

    // Answers GET /trabajos/<id> through `responder`, once: at once from what the agent knows, or when the spooler
    // has told the job's state, if it is time to ask it again.
    void Consultar(const QString& id, Responder responder);
    // The answer of GET /trabajos/<id> from what the agent knows, without asking the spooler.
    QString Respuesta(const QString& id);

    qsizetype Cantidad() const { return m_orden.size(); }

private:
    struct Trabajo
    {
        QString impresora;
        QString cola;
        QString idSpooler;
        QString documento; // looked for while idSpooler is empty
        bool esperaId = false;
        EstadoTrabajo estado = EstadoTrabajo::Enviado;
        QString detalle;
        qint64 creado = 0;
        qint64 cambio = 0;
        qint64 consultado = 0;
        bool consultadoAlgunaVez = false;
    };

    void Retirar(qint64 ahora);
    // True when the spooler is being asked: `responder` has gone to wait for its answer.
    bool Actualizar(const QString& id, Trabajo& t, qint64 ahora, Responder& responder);
    void Respondido(const QString& id, const InfoTrabajo& info);
    static void Cambiar(Trabajo& t, EstadoTrabajo estado, const QString& detalle, qint64 ahora);

    Spooler* m_spooler;
    Reloj m_reloj;
    quint64 m_siguiente = 0;
    QHash<QString, Trabajo> m_trabajos;
    // Whoever waits for a job whose state is being asked, by its id.
    QHash<QString, QList<Responder>> m_esperan;
    // The spooler's answers find the table through this, never after it is gone.
    std::shared_ptr<bool> m_vivo = std::make_shared<bool>(true);
    QList<QString> m_orden; // oldest first
};
