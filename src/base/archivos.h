#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` as the whole content of `ruta` through a temporary file renamed into place, so a reader never sees
// a half-written file and a failed write (a full disk included) leaves the earlier file as it was. A link in the
// file's place is refused rather than written through. The folder must exist. On failure `motivo`, when given, says
// why, ready for the log.
bool GuardarBytes(const QByteArray& bytes, const QString& ruta, QString* motivo = nullptr);

// Writes `bytes` to `ruta`, which must not exist yet (an existing file or link is refused, never followed), with no
// flush to disk: for a file nobody reads until this returns and nothing needs after a power cut. On any failure
// nothing of it stays behind, and `motivo`, when given, says why, ready for the log.
bool EscribirArchivoNuevo(const QByteArray& bytes, const QString& ruta, QString* motivo = nullptr);
