#pragma once

#include "base/lector_base64_json.h"
#include "base/responder.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Where the endpoints meet the request handler. Each endpoint takes text (a request body as its UTF-8 bytes) and
// gives text, and knows no socket. An endpoint left empty is not served: its requests fall to the fixed answers of
// the table.
struct Endpoints
{
    std::function<QString()> estado;               // GET /status
    std::function<QString()> impresoras;           // GET /impresoras
    std::function<void(Responder)> peso;           // GET /pesoBalanza; answers when the reading ends
    std::function<void(Responder)> balanza;        // GET /balanza; answers when the reading ends
    std::function<void(Responder)> balanzaEstable; // GET /balanza/estable; answers once settled or given up
    std::function<QString()> puertos;              // GET /puertos
    // GET /balanza/eventos: `alCambiar` gets the GET /balanza document of each change; returns the id to leave with.
    // The callback is never called after desuscribirBalanza.
    std::function<int(std::function<void(const QString& documento)> alCambiar)> suscribirBalanza;
    std::function<void(int id)> desuscribirBalanza;
    // POST /print-base64; answers once printing started. The reader, when there is one, has decoded the document
    // while the body arrived (see LectorAnticipado).
    std::function<void(QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder)> imprimir;
    std::function<QString(QByteArray cuerpo)> csv; // POST /csv-base64
    // GET /impresoras/detalle and GET /trabajos/<id>; each answers once the spooler has told what it asked.
    std::function<void(Responder)> detalleImpresoras;
    std::function<void(const QString& id, Responder)> trabajo;
    // POST /print-raw; answers once the spooler has taken every byte.
    std::function<void(QByteArray cuerpo, Responder)> imprimirDirecto;
};

inline const QString kRutaNoValida = QStringLiteral("Ruta no válida");
inline const QString kMetodoORutaNoValida = QStringLiteral("{\"success\":false,\"error\":\"Método o ruta no válida\"}");

// Chooses the answer body for a request that passed the origin check and is not a preflight. `responder` is called
// exactly once: at once, or later for the weight (when its reading ends), printing (when the print
// program has started) and what is asked of the spooler (job states, printer details).
// The body is moved on to the endpoint that takes it, so a large one is not kept twice, and so is the reader that
// LectorAnticipado gave for the same request (or none).
void Enrutar(const Endpoints& endpoints, const QString& metodo, const QString& ruta, QByteArray cuerpo,
             std::unique_ptr<LectorBase64JSON> lector, const Responder& responder);

// The route whose answer stays open (an event stream); served only when the table can subscribe.
bool EsFlujoBalanza(const Endpoints& endpoints, const QString& metodo, const QString& ruta);

// A reader to feed the body of a request to while it arrives, for the route that takes documents of megabytes;
// none for every other request.
std::unique_ptr<LectorBase64JSON> LectorAnticipado(const Endpoints& endpoints, const QString& metodo,
                                                   const QString& ruta);
