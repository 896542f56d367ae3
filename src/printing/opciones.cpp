#include "printing/opciones.h"

#include "printing/spooler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>

namespace {

QString ComoTexto(const QJsonValue& valor)
{
    if (valor.isString()) {
        return valor.toString();
    }
    // A bare value has no document of its own: written inside an array, brackets taken off.
    const QByteArray json = QJsonDocument(QJsonArray{valor}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

bool RangosValidos(const QString& texto)
{
    static const QRegularExpression patron(QStringLiteral("^(\\d{1,5})(?:-(\\d{1,5}))?$"));
    const QStringList rangos = texto.split(u',');
    for (const QString& rango : rangos) {
        const QRegularExpressionMatch m = patron.match(rango);
        if (!m.hasMatch()) {
            return false;
        }
        const int desde = m.captured(1).toInt();
        const int hasta = m.captured(2).isEmpty() ? desde : m.captured(2).toInt();
        if (desde < 1 || hasta < desde) {
            return false;
        }
    }
    return true;
}

// The member's text, spelt as in `valores` whatever its case; false when it is present and not one of them.
bool LeerPalabra(const QJsonObject& objeto, const QString& miembro, const QStringList& valores, QString& destino)
{
    const QJsonValue valor = objeto.value(miembro);
    if (valor.isUndefined()) {
        return true;
    }
    if (!valor.isString()) {
        return false;
    }
    for (const QString& v : valores) {
        if (valor.toString().compare(v, Qt::CaseInsensitive) == 0) {
            destino = v;
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<OpcionInvalida> LeerOpciones(const QJsonObject& objeto, const DetalleImpresora* detalle,
                                           OpcionesImpresion& opciones)
{
    const auto invalida = [&objeto](const QString& miembro) {
        return OpcionInvalida{miembro, ComoTexto(objeto.value(miembro))};
    };
    const QJsonValue copias = objeto.value(QStringLiteral("copias"));
    if (!copias.isUndefined()) {
        const double n = copias.toDouble(-1);
        if (!copias.isDouble() || n != static_cast<int>(n) || n < 1 || n > 99) {
            return invalida(QStringLiteral("copias"));
        }
        opciones.copias = static_cast<int>(n);
    }
    const QJsonValue paginas = objeto.value(QStringLiteral("paginas"));
    if (!paginas.isUndefined()) {
        if (!paginas.isString() || !RangosValidos(paginas.toString())) {
            return invalida(QStringLiteral("paginas"));
        }
        opciones.paginas = paginas.toString();
    }
    const struct
    {
        QString miembro;
        QStringList valores;
        QString* destino;
    } palabras[] = {
        {QStringLiteral("orientacion"),
         {QStringLiteral("vertical"), QStringLiteral("horizontal")},
         &opciones.orientacion},
        {QStringLiteral("escala"),
         {QStringLiteral("ajustar"), QStringLiteral("reducir"), QStringLiteral("real")},
         &opciones.escala},
        {QStringLiteral("duplex"),
         {QStringLiteral("no"), QStringLiteral("largo"), QStringLiteral("corto")},
         &opciones.duplex},
        {QStringLiteral("color"), {QStringLiteral("color"), QStringLiteral("monocromo")}, &opciones.color},
        {QStringLiteral("papel"), detalle ? detalle->papeles : QStringList(), &opciones.papel},
        {QStringLiteral("bandeja"), detalle ? detalle->bandejas : QStringList(), &opciones.bandeja},
    };
    for (const auto& p : palabras) {
        if (!LeerPalabra(objeto, p.miembro, p.valores, *p.destino)) {
            return invalida(p.miembro);
        }
    }
    return std::nullopt;
}

QStringList AtributosCups(const OpcionesImpresion& o)
{
    QStringList atributos;
    if (o.escala == QLatin1String("reducir")) {
        atributos << QStringLiteral("print-scaling=auto");
    } else if (o.escala == QLatin1String("real")) {
        atributos << QStringLiteral("print-scaling=none");
    } else {
        atributos << QStringLiteral("fit-to-page");
    }
    if (o.copias) {
        atributos << QStringLiteral("copies=%1").arg(*o.copias);
    }
    if (!o.paginas.isEmpty()) {
        atributos << QStringLiteral("page-ranges=") + o.paginas;
    }
    if (!o.orientacion.isEmpty()) {
        atributos << QStringLiteral("orientation-requested=%1").arg(o.orientacion == QLatin1String("vertical") ? 3 : 4);
    }
    if (!o.duplex.isEmpty()) {
        atributos << QStringLiteral("sides=") + (o.duplex == QLatin1String("no") ? QStringLiteral("one-sided")
                                                 : o.duplex == QLatin1String("largo")
                                                     ? QStringLiteral("two-sided-long-edge")
                                                     : QStringLiteral("two-sided-short-edge"));
    }
    if (!o.color.isEmpty()) {
        atributos << QStringLiteral("print-color-mode=") +
                         (o.color == QLatin1String("color") ? QStringLiteral("color") : QStringLiteral("monochrome"));
    }
    if (!o.papel.isEmpty()) {
        atributos << QStringLiteral("media=") + o.papel;
    }
    if (!o.bandeja.isEmpty()) {
        atributos << QStringLiteral("media-source=") + o.bandeja;
    }
    return atributos;
}

QString AjustesSumatra(const OpcionesImpresion& o)
{
    QStringList ajustes;
    ajustes << (o.escala == QLatin1String("reducir") ? QStringLiteral("shrink")
                : o.escala == QLatin1String("real")  ? QStringLiteral("noscale")
                                                     : QStringLiteral("fit"));
    if (o.copias) {
        ajustes << QStringLiteral("%1x").arg(*o.copias);
    }
    if (!o.paginas.isEmpty()) {
        ajustes << o.paginas;
    }
    if (!o.orientacion.isEmpty()) {
        ajustes << (o.orientacion == QLatin1String("vertical") ? QStringLiteral("portrait")
                                                               : QStringLiteral("landscape"));
    }
    if (!o.duplex.isEmpty()) {
        ajustes << (o.duplex == QLatin1String("no")      ? QStringLiteral("simplex")
                    : o.duplex == QLatin1String("largo") ? QStringLiteral("duplexlong")
                                                         : QStringLiteral("duplexshort"));
    }
    if (!o.color.isEmpty()) {
        ajustes << (o.color == QLatin1String("color") ? QStringLiteral("color") : QStringLiteral("monochrome"));
    }
    if (!o.papel.isEmpty()) {
        ajustes << QStringLiteral("paper=") + o.papel;
    }
    if (!o.bandeja.isEmpty()) {
        ajustes << QStringLiteral("bin=") + o.bandeja;
    }
    return ajustes.join(u',');
}
