#pragma once

#include "base/reloj.h"
#include "http/rutas.h"
#include "settings/configuracion.h"

#include <QByteArray>
#include <QHash>
#include <QTimer>

#include <functional>
#include <memory>

// Turns the bytes of one complete request into its answer bytes: logs the request line, applies the origin check,
// answers preflights, routes the rest. Knows no socket.
class ManejadorSolicitudes final
{
public:
    // Hands the answer to the connection; an empty answer means "close without answering" (the error path).
    // Returns false when the connection can no longer take it.
    using Enviar = std::function<bool(const QByteArray& respuesta)>;
    // Takes the connection of a request whose answer stays open (the scale's event stream); `enviar` is then not
    // called.
    using AbrirFlujo = std::function<void()>;

    // `reloj` counts the seconds refusals are summed up by.
    ManejadorSolicitudes(const Configuracion& cfg, Endpoints endpoints, Reloj reloj);

    // `enviar` is called exactly once, now or (for the weight and printing) later from the event loop.
    // The bytes are taken by value and released once decoded. `lector` is the one LectorPara gave for this request,
    // fed with its body so far.
    void Manejar(QByteArray datos, Enviar enviar, std::unique_ptr<LectorBase64JSON> lector = nullptr,
                 const AbrirFlujo& abrirFlujo = nullptr) const;

    // Once the head of a request is in (without its blank line), a reader to feed its body to as it arrives, when
    // the request will reach an endpoint that takes one; none otherwise.
    std::unique_ptr<LectorBase64JSON> LectorPara(QByteArrayView cabecera) const;

    // Judged as soon as the head is in (or as much of it as is worth holding): true when the origin is refused, in
    // which case the 403 has gone to `enviar` and both lines are logged. Nothing of the body is needed for that.
    bool RechazarAjeno(QByteArrayView cabecera, const Enviar& enviar) const;

    // Refusals of one origin logged in full per second; past that they are counted and summed up in one line.
    static constexpr int kRechazosPorSegundo = 20;

private:
    struct Rechazos
    {
        qint64 segundo = 0;
        int vistas = 0;
        qint64 omitidas = 0;
    };
    void Rechazar(const QString& cabecera, const Enviar& enviar) const;
    // Logs the summary of every origin whose second is over; true when some are still counting.
    bool ResumirRechazos(qint64 segundo) const;

    const Configuracion& m_cfg;
    Endpoints m_endpoints;
    Reloj m_reloj;
    mutable QHash<QString, Rechazos> m_rechazos; // by origin as logged
    mutable QTimer m_resumen;
};
