#pragma once

#include <QByteArray>
#include <QString>

namespace soporte {

// The JSON body of /print-base64: the document in Base64 and the printer's name.
QByteArray CuerpoImpresion(const QByteArray& pdf, const QString& impresora);
// The JSON body of /csv-base64: the file in Base64 and its name.
QByteArray CuerpoCsv(const QByteArray& csv, const QString& nombre);

// Fills the running _data() function: a QString column "cuerpo" and a row for each body that is not a JSON object,
// which an endpoint taking one must turn away. `campoNombre` is the endpoint's second field, so that the broken
// objects look like real requests up to where they break.
void FilasJsonInvalido(const QString& campoNombre);

} // namespace soporte
