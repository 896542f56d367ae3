#pragma once

#include "rutas.h"
#include "settings/configuracion.h"

#include <QByteArray>

#include <functional>

// Turns the bytes of one complete request into its answer bytes: logs the request line, applies the origin check,
// answers preflights, routes the rest. Knows no socket.
class ManejadorSolicitudes final
{
public:
    // Hands the answer to the connection; an empty answer means "close without answering" (the error path).
    // Returns false when the connection can no longer take it.
    using Enviar = std::function<bool(const QByteArray& respuesta)>;

    ManejadorSolicitudes(const Configuracion& cfg, Endpoints endpoints);

    // `enviar` is called exactly once, now or (for the weight and printing) later from the event loop.
    // The bytes are taken by value and released once decoded.
    void Manejar(QByteArray datos, Enviar enviar) const;

private:
    const Configuracion& m_cfg;
    Endpoints m_endpoints;
};
