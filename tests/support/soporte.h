#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Test helpers shared by every suite.
namespace soporte {

// The day's log file of a program folder, read as lines (CR LF stripped).
QStringList LineasDelLog(const QString& carpetaPrograma);

// Writes `contenido` to `ruta`, creating folders as needed.
bool EscribirArchivo(const QString& ruta, const QByteArray& contenido);
// The whole file, or nothing when it cannot be read.
QByteArray LeerArchivo(const QString& ruta);

// A free TCP port on loopback, for agents started by the tests.
quint16 PuertoLibre();

// Where the built executables are (set by CTest).
QString CarpetaBinarios();

// Asks a child to end, and kills it if it is still there after `msEspera`; a test never leaves one behind.
void DetenerProceso(QProcess& proceso, int msEspera = 10000);
// For a child already asked to end some other way: waits for it, then kills it.
void EsperarFinOMatar(QProcess& proceso, int msEspera = 10000);

// A link at a path outside the test's folders (a browser's policy folder, say) to `destino`, for the object's
// lifetime: the folders it had to create and the link go again when it ends.
class ArchivoTemporalDeSistema final
{
public:
    ArchivoTemporalDeSistema(const QString& ruta, const QString& destino);
    ~ArchivoTemporalDeSistema();
    ArchivoTemporalDeSistema(const ArchivoTemporalDeSistema&) = delete;
    ArchivoTemporalDeSistema& operator=(const ArchivoTemporalDeSistema&) = delete;

    // Empty when the link is in place, otherwise why not.
    QString Error() const { return m_error; }

private:
    QString m_ruta;
    QStringList m_creadas; // deepest first
    QString m_error;
};

} // namespace soporte
