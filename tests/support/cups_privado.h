#pragma once

#include <QHash>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace soporte {

// A CUPS scheduler of the tests' own: configuration, spool, logs and socket in a temporary folder, never the
// system's scheduler. While it runs, CUPS_SERVER points this process and its children (lp, QPrinterInfo, the agent)
// at its socket. It keeps every job's document, so a test can compare what arrived with what was sent.
class CupsPrivado final
{
public:
    struct Trabajo
    {
        int id = 0;
        QString impresora;
        bool ajustarPagina = false; // fit-to-page asked for
        QString estado;             // pending, processing, completed, aborted ...
    };

    CupsPrivado() = default;
    ~CupsPrivado();
    CupsPrivado(const CupsPrivado&) = delete;
    CupsPrivado& operator=(const CupsPrivado&) = delete;

    // Empty text when the scheduler answers, otherwise why it cannot run (for QSKIP).
    QString Iniciar();
    void Detener();

    QString Socket() const { return m_socket; }
    QString CarpetaSalida() const { return m_carpeta.filePath(QStringLiteral("salida")); }

    // A queue that accepts jobs and throws them away, or, with `archivo` (absolute or under CarpetaSalida()), one
    // that renders them to PostScript into that file (the file device rewrites it for each job).
    bool AgregarCola(const QString& nombre, const QString& archivo = QString());
    bool FijarPredeterminada(const QString& nombre);
    bool Rechazar(const QString& nombre);
    // A queue on any device URI (socket://127.0.0.1:<port>, serial:...), raw unless `modelo` names a driver; a job
    // its device cannot take is aborted, not retried.
    bool AgregarColaEn(const QString& nombre, const QString& uri, const QString& modelo = QString());
    // Jobs wait in a disabled queue until it is enabled again.
    bool Deshabilitar(const QString& nombre);
    bool Habilitar(const QString& nombre);
    bool Cancelar(int id);
    // A job's attributes as ipptool shows them ("copies" -> "2", "page-ranges" -> "1-3,5-5").
    QHash<QString, QString> Atributos(int id);

    // Every job the scheduler knows, oldest first.
    QList<Trabajo> Trabajos();
    // The highest job number so far, 0 before any job.
    int UltimoTrabajo();
    // The jobs numbered after `id`, once at least `cuantos` of them are listed and all are completed (a job is listed
    // before lp has sent all of its document; it is whole once the job is done). Waits up to a minute.
    QList<Trabajo> TrabajosTerminadosDesde(int id, int cuantos);
    // The document of a job as the scheduler received it.
    QByteArray Documento(int id) const;
    // Paths of the documents received so far, oldest first.
    QStringList Documentos() const;

    QString Bitacora() const;
    QString UltimoError() const { return m_ultimoError; }

private:
    bool Ejecutar(const QString& programa, const QStringList& argumentos, QString* salida = nullptr);

    QTemporaryDir m_carpeta;
    QProcess m_cupsd;
    QString m_socket;
    QByteArray m_entornoAnterior;
    QHash<QString, QString> m_programas;
    QString m_ultimoError;
};

} // namespace soporte
