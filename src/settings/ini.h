#pragma once

#include <QString>

// Reads one value of an INI file the way the Windows profile reader does: section and key names without regard to
// case, blanks around names and values trimmed, one pair of surrounding quotes removed, lines starting with ';'
// ignored, the first matching section and key win, at most 254 characters. An absent file, section or key gives
// the default; a key with nothing after '=' gives empty text.
QString LeerINI(const QString& seccion, const QString& clave, const QString& valorPorDefecto, const QString& ruta);

// The same rules over text already in memory (the file's content).
QString LeerINITexto(const QString& seccion, const QString& clave, const QString& valorPorDefecto,
                     const QString& contenido);

inline constexpr int kLargoMaximoValorINI = 254;
