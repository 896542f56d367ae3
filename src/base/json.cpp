#include "base/json.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>

std::optional<QJsonObject> ParsearJSON(const QByteArray& cuerpo)
{
    QJsonParseError error{};
    const QJsonDocument documento = QJsonDocument::fromJson(cuerpo, &error);
    if (error.error != QJsonParseError::NoError || !documento.isObject()) {
        return std::nullopt;
    }
    return documento.object();
}

QString LeerTexto(const QJsonObject& objeto, const QString& miembro)
{
    const QJsonValue valor = objeto.value(miembro);
    switch (valor.type()) {
    case QJsonValue::String:
        return valor.toString();
    case QJsonValue::Double:
        return QString::number(valor.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::Bool:
        return valor.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}
