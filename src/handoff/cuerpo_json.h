#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The JSON object of a POST body, or nothing when the text is not one (not JSON at all, a bare number, string,
// true, false, null, or an array).
std::optional<QJsonObject> ParsearJSON(const QString& cuerpo);

// A member read as text: a string gives its characters, a number its shortest decimal text, true and false their
// names. A missing member, null, an object or an array read as empty text.
QString LeerTexto(const QJsonObject& objeto, const QString& miembro);
