#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Test helpers shared by every suite.
namespace soporte {

// The day's log file of a program folder, read as lines (CR LF stripped).
QStringList LineasDelLog(const QString& carpetaPrograma);

// Writes `contenido` to `ruta`, creating folders as needed.
bool EscribirArchivo(const QString& ruta, const QByteArray& contenido);

// A free TCP port on loopback, for agents started by the tests.
quint16 PuertoLibre();

// Where the built executables are (set by CTest).
QString CarpetaBinarios();

} // namespace soporte
