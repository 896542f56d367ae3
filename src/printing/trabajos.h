#pragma once

#include "base/reloj.h"
#include "printing/spooler.h"

#include <QHash>
#include <QList>
#include <QString>

// The jobs the agent handed on, by its own ids ("1", "2"... within a run), kept in memory only: the last kMaximo
// of the last kVidaMs. A job's state is asked of the spooler when someone asks for it, at most once per job every
// kIntervaloMs.
class TablaTrabajos final
{
public:
    static constexpr qsizetype kMaximo = 1000;
    static constexpr qint64 kVidaMs = 24LL * 60 * 60 * 1000;
    static constexpr qint64 kIntervaloMs = 500;
    // How long a job known only by its document name is looked for in the printer's queue.
    static constexpr qint64 kBusquedaMs = 2 * 60 * 1000;

    // `spooler` (may be null: no state beyond what the agent itself knows) must outlive the table.
    explicit TablaTrabajos(const Spooler* spooler, Reloj reloj);

    // A job handed to `cola` (the spooler's name of the printer asked for as `impresora`). Known by the spooler's
    // `idSpooler`, or, when that is empty, by `documento` (its document name) or later through Encolado.
    QString Agregar(const QString& impresora, const QString& cola, const QString& idSpooler,
                    const QString& documento = QString());
    // The spooler's id of a job added without one, or, when it refused the job, the reason.
    void Encolado(const QString& id, const QString& idSpooler, const QString& fallo);

    // The answer of GET /trabajos/<id>.
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
    void Actualizar(Trabajo& t, qint64 ahora);
    static void Cambiar(Trabajo& t, EstadoTrabajo estado, const QString& detalle, qint64 ahora);

    const Spooler* m_spooler;
    Reloj m_reloj;
    quint64 m_siguiente = 0;
    QHash<QString, Trabajo> m_trabajos;
    QList<QString> m_orden; // oldest first
};
