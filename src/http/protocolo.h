#pragma once

#include "base/texto.h"

#include <QByteArray>
#include <QString>

// The request and answer texts of the HTTP service, as pure functions.

// Longest answer body written to the log as it is; the status document and printer lists fit well inside.
inline constexpr qsizetype kLargoMaximoRespuestaEnLog = 16384;

// "Solicitud recibida: " + the first line of the request, spaces trimmed, cut past kLargoMaximoEnLog and escaped.
QString ResumenSolicitud(const QString& texto);

struct SolicitudDecodificada
{
    QString cabecera;
    QByteArray cuerpo; // as UTF-8
    bool utf8 = true;  // the request came as UTF-8, so the body is its own bytes, not a conversion
};
// The same split made on the bytes: the head decoded, the body kept as UTF-8. A request that is not valid UTF-8 as a
// whole is read as Windows-1252 byte for byte, and its body converted. The bytes are taken by value: the body of a
// valid request is the same memory, never copied.
SolicitudDecodificada DecodificarSolicitud(QByteArray bytes);

// The value of the first head line that starts with `nombre` (any case), minus the name and the one character
// after it, with spaces trimmed; empty when no line starts with it.
QString ValorCabecera(const QString& cabecera, const QString& nombre);

// Admits a request when its Origin or its Referer is an http(s) URL whose host ends with "." + dominio, or, in mode
// "DEV", whose host is exactly "localhost".
bool OrigenPermitido(const QString& cabecera, const QString& modo, const QString& dominio);
bool UrlPermitida(const QString& valor, bool dev, const QString& dominio);

struct LineaSolicitud
{
    QString metodo; // upper-cased
    QString ruta;   // one trailing "/" removed, query string kept
};
// False when the request line has fewer than two spaces; `error` then describes it.
bool AnalizarLineaSolicitud(const QString& cabecera, LineaSolicitud& linea, QString& error);

QByteArray Respuesta200(const QString& cuerpo);
QByteArray Respuesta403();
QByteArray Respuesta204(bool redPrivada);
QByteArray Respuesta413();
QByteArray Respuesta503(const QString& cuerpo);
// The head of an event stream: no length, the connection stays open; `reintentoMs` is the browser's reconnection
// delay.
QByteArray CabeceraFlujo(int reintentoMs);
// One event: every line of `datos` as a `data:` line, then the blank line that ends it.
QByteArray EventoFlujo(const QString& datos);

inline const QString kCuerpo403 = QStringLiteral("{\"error\":\"Acceso denegado desde origen no autorizado\"}");
inline const QString kCuerpoDemasiadosOyentes =
    QStringLiteral("{\"success\":false,\"error\":\"Demasiadas conexiones a la balanza\"}");
inline const QString kCuerpo413 = QStringLiteral("{\"success\":false,\"error\":\"Solicitud demasiado grande\"}");
