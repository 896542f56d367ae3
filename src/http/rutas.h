#pragma once

#include <QString>

#include <functional>

// Where the endpoints meet the request handler. Each endpoint takes text and gives text and knows no socket. An
// endpoint left empty is not served: its requests fall to the fixed answers of the table.
struct Endpoints
{
    using Responder = std::function<void(const QString& cuerpo)>;

    std::function<QString()> estado;                         // GET /status
    std::function<QString()> impresoras;                     // GET /impresoras
    std::function<void(Responder)> peso;                     // GET /pesoBalanza; answers when the reading ends
    std::function<void(QString cuerpo, Responder)> imprimir; // POST /print-base64; answers once printing started
    std::function<QString(QString cuerpo)> csv;              // POST /csv-base64
};

inline const QString kRutaNoValida = QStringLiteral("Ruta no válida");
inline const QString kMetodoORutaNoValida = QStringLiteral("{\"success\":false,\"error\":\"Método o ruta no válida\"}");

// Chooses the answer body for a request that passed the origin check and is not a preflight. `responder` is called
// exactly once: at once, or later for the weight (when its reading ends) and printing (when the print
// program has started).
// The body is moved on to the endpoint that takes it, so a large one is not kept twice.
void Enrutar(const Endpoints& endpoints, const QString& metodo, const QString& ruta, QString cuerpo,
             const Endpoints::Responder& responder);
