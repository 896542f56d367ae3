#pragma once

#include <QString>

#include <deque>
#include <optional>

// One weight reading as data: the text GET /pesoBalanza answers, plus what the page needs to trust it.
struct LecturaBalanza
{
    enum class Estado
    {
        Ok,
        SinRespuesta, // the attempts ran out and nothing arrived
        Ilegible,     // something arrived that is not a number
        Error         // the port could not be opened or used
    };

    QString peso;             // exactly what GET /pesoBalanza answers for the same reply
    std::optional<double> kg; // the weight when `peso` is a number and the reading is ok
    Estado estado = Estado::Ok;
    QString detalle;             // the system's reason, for Error
    std::optional<bool> estable; // empty: no readings old enough to tell
    qint64 hora = 0;             // when the reply was read, ms since the epoch
    qint64 instante = 0;         // the same moment on the monotonic clock, for its age

    bool operator==(const LecturaBalanza&) const = default;
};

// "ok", "sin respuesta", "ilegible", "error".
QString NombreEstado(LecturaBalanza::Estado estado);

// The state and kilograms of a reading that did not fail, from its decoded `peso` and the raw `respuesta` it came
// from: nothing received is "sin respuesta"; a reply without a number (families that read one from the reply:
// SYSTEL*, *100KG), or a decoded text that is not a plain decimal number, is "ilegible".
void Calificar(LecturaBalanza& lectura, const QString& respuesta, const QString& protocolo);

// The GET /balanza document: {"peso":..,"kg":..,"estado":..[,"detalle":..],"estable":..,"protocolo":..,
// "hora":"yyyy-MM-dd hh:mm:ss.zzz","edadMs":..}, `hora` in local time, `edadMs` counted to `ahora` (monotonic).
QString DocumentoLectura(const LecturaBalanza& lectura, const QString& protocolo, qint64 ahora);

// Whether the weight has held: the readings of the last `ventanaMs` must all be ok with the same weight. Readings
// further apart than `huecoMs` do not vouch for the time between them.
class HistorialPesos
{
public:
    HistorialPesos(qint64 ventanaMs, qint64 huecoMs);

    // Adds the reading and gives its `estable`.
    std::optional<bool> Agregar(const LecturaBalanza& lectura);

private:
    struct Punto
    {
        qint64 instante;
        bool ok;
        QString peso;
    };

    qint64 m_ventanaMs;
    qint64 m_huecoMs;
    std::deque<Punto> m_puntos; // oldest first
};
