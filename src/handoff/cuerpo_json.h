#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The JSON object of a POST body, or nothing when the text is not one (not JSON at all, a bare number, string,
// true, false, null, or an array).
// The text is taken by value: moved in, it is released as soon as it has been converted for the parser, so a large
// body is not held twice.
std::optional<QJsonObject> ParsearJSON(QString cuerpo);

// A member read as text: a string gives its characters, a number its shortest decimal text, true and false their
// names. A missing member, null, an object or an array read as empty text.
QString LeerTexto(const QJsonObject& objeto, const QString& miembro);
