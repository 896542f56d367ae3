#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

struct DetalleImpresora;

// The optional members of a print request that shape the print. An empty text (or no copies) leaves the printer's
// own choice, except the scale, which is fit to the page unless asked otherwise.
struct OpcionesImpresion
{
    std::optional<int> copias; // 1 to 99
    QString paginas;           // page ranges as "1-3,5"
    QString orientacion;       // "vertical", "horizontal"
    QString escala;            // "ajustar", "reducir", "real"
    QString duplex;            // "no", "largo", "corto"
    QString color;             // "color", "monocromo"
    QString papel;             // as the printer's details spell it
    QString bandeja;           // as the printer's details spell it
};

struct OpcionInvalida
{
    QString miembro;
    QString valor; // as received: a string's characters, anything else as JSON text
};

// Reads the options of `objeto` into `opciones`. A paper or tray must be one of `detalle`'s (none without details,
// matched without regard to case). The first member of the wrong type or out of range is returned.
std::optional<OpcionInvalida> LeerOpciones(const QJsonObject& objeto, const DetalleImpresora* detalle,
                                           OpcionesImpresion& opciones);

// CUPS's job attributes as "name=value" ("fit-to-page" alone for true), the scale first: "fit-to-page" when it is not
// asked otherwise.
QStringList AtributosCups(const OpcionesImpresion& opciones);
// SumatraPDF's -print-settings list: "fit" when nothing is asked.
QString AjustesSumatra(const OpcionesImpresion& opciones);
