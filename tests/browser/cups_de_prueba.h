#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A CUPS scheduler of the test's own: configuration, spool, logs and socket in a temporary folder, never the
// system's. Clients reach it with CUPS_SERVER=Socket(). It keeps every job's document, so a test can compare what
// arrived with what was sent.
class CupsDePrueba final
{
public:
    CupsDePrueba() = default;
    ~CupsDePrueba();
    CupsDePrueba(const CupsDePrueba&) = delete;
    CupsDePrueba& operator=(const CupsDePrueba&) = delete;

    // Empty text when the scheduler answers, otherwise why it cannot run.
    QString Iniciar();
    void Detener();

    QString Socket() const { return m_socket; }
    QString CarpetaSalida() const { return m_carpeta.filePath(QStringLiteral("salida")); }
    // A queue that renders each job to PostScript into CarpetaSalida()/`archivo` (rewritten for each job).
    bool AgregarCola(const QString& nombre, const QString& archivo);
    bool FijarPredeterminada(const QString& nombre);
    // Paths of the documents received so far, oldest first.
    QStringList Documentos() const;
    QString Bitacora() const;
    QString UltimoError() const { return m_ultimoError; }

private:
    bool Ejecutar(const QString& programa, const QStringList& argumentos, QString* salida = nullptr);

    QTemporaryDir m_carpeta;
    QProcess m_cupsd;
    QString m_socket;
    QString m_ultimoError;
};
