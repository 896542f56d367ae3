#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The answer of a POST endpoint whose body is not a JSON object. Both endpoints that read a JSON body give it, the
// same words, so it lives with the reading.
inline const QString kRespuestaJsonInvalido = QStringLiteral("{\"success\":false,\"error\":\"JSON inválido\"}");

// The JSON object of a POST body (UTF-8), or nothing when the bytes are not one (not JSON at all, a bare number,
// string, true, false, null, or an array).
std::optional<QJsonObject> ParsearJSON(const QByteArray& cuerpo);

// A member read as text: a string gives its characters, a number its shortest decimal text, true and false their
// names. A missing member, null, an object or an array read as empty text.
QString LeerTexto(const QJsonObject& objeto, const QString& miembro);
