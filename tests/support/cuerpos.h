#pragma once

#include <QByteArray>
#include <QString>

namespace soporte {

// The JSON body of /print-base64 (and /print-raw): the document in Base64 and the printer's name, then `opciones`,
// more members as JSON text ("\"copias\":2"), when given.
QByteArray CuerpoImpresion(const QByteArray& pdf, const QString& impresora, const QByteArray& opciones = {});
// The JSON body of /csv-base64: the file in Base64 and its name.
QByteArray CuerpoCsv(const QByteArray& csv, const QString& nombre);

// Fills the running _data() function: a QString column "cuerpo" and a row for each body that is not a JSON object,
// which an endpoint taking one must turn away. `campoNombre` is the endpoint's second field, so that the broken
// objects look like real requests up to where they break.
void FilasJsonInvalido(const QString& campoNombre);

} // namespace soporte
