#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// Test helpers shared by every suite.
namespace soporte {

// A row of the running _data() function, one value per column in their order (a C string fills a QString column,
// read as UTF-8). One call per row keeps a table at a line a row.
template <typename... Valores> void Fila(const char* caso, const Valores&... valores)
{
    (QTest::newRow(caso) << ... << valores);
}

// The answer a request gives through its callback: the only one, "<n respuestas>" when more came, or
// "<sin respuesta>". With msEspera 0 only an answer given before `pedir` returns counts; otherwise the event loop
// runs until one comes or msEspera pass.
QString UnicaRespuesta(const std::function<void(std::function<void(const QString&)>)>& pedir, int msEspera = 0);

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

// A small file system of its own (tmpfs, mounted over a temporary folder) that a test can fill up. Only root can
// mount one: Montado() is false elsewhere, and the test skips. Unmounted when it goes.
class DiscoPequeno final
{
public:
    explicit DiscoPequeno(qint64 tamano = 256 * 1024);
    ~DiscoPequeno();
    DiscoPequeno(const DiscoPequeno&) = delete;
    DiscoPequeno& operator=(const DiscoPequeno&) = delete;

    bool Montado() const { return m_montado; }
    QString Ruta() const { return m_carpeta.path(); }
    // Fills it with a file of its own until only about `libres` bytes (whole pages) are left.
    bool Llenar(qint64 libres);

private:
    QTemporaryDir m_carpeta;
    bool m_montado = false;
};

// An empty read-only file system mounted over `carpeta` for the object's lifetime, hiding what the folder holds, as a
// folder the user may not write to. Only root can mount one: Montado() is false elsewhere, and the test skips.
class CarpetaSoloLectura final
{
public:
    explicit CarpetaSoloLectura(const QString& carpeta);
    ~CarpetaSoloLectura();
    CarpetaSoloLectura(const CarpetaSoloLectura&) = delete;
    CarpetaSoloLectura& operator=(const CarpetaSoloLectura&) = delete;

    bool Montado() const { return m_montado; }

private:
    QString m_carpeta;
    bool m_montado = false;
};

} // namespace soporte
