#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Bare standard Base64 (RFC 4648 alphabet, "=" padding optional). Anything else fails: white space, a data-URL
// prefix, characters outside the alphabet (any byte past ASCII included), a dangling single character, and the
// empty text (a request without content is a fault of the page, not an empty document).
bool DecodificarBase64(QByteArrayView texto, QByteArray& bytes);

// Writes `bytes` as the whole content of `ruta` through a temporary file renamed into place, so a reader never sees
// a half-written file and a failed write leaves the earlier file as it was. The folder must exist.
bool GuardarBytes(const QByteArray& bytes, const QString& ruta);

// Writes `bytes` to `ruta`, which must not exist yet (an existing file or link is refused, never followed), with no
// flush to disk: for a file nobody reads until this returns and nothing needs after a power cut. On any failure
// nothing of it stays behind.
bool EscribirArchivoNuevo(const QByteArray& bytes, const QString& ruta);
