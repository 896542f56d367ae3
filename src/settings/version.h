#pragma once

#include <QString>

// The program's version as four dotted numbers, compiled in from the build's project version; "1.0.0.0" when
// those numbers are missing or malformed.
QString ObtenerVersion();

// Four dotted decimal numbers of 0..65535, each written without leading zeros, or "1.0.0.0".
QString NormalizarVersion(const QString& numeros);
