#pragma once

#include "base/archivo_anexo.h"
#include "base/reloj.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QTimer>

#include <limits>

// How much one day's log may hold. Once the day's file holds `bytes`, lines are no longer written (to the file or
// the window); a summary of how many were left out is written every `msResumen` while that lasts. Keeps a flood from
// filling the disk.
struct TopeRegistro
{
    qint64 bytes = 64LL * 1024 * 1024;
    int msResumen = 60 * 1000;
};

// The activity log: every line is emitted for the window and appended to the day's file logs/log_yyyy-mm-dd.log. The
// file stays open while the day lasts, and each line reaches the system before Escribir returns, or, while a
// LoteRegistro lives, when the last one ends. It never fails its caller. `reloj` is the wall clock: it stamps the
// lines and names the day.
class Registro final : public QObject
{
    Q_OBJECT

public:
    Registro(const QString& carpetaPrograma, Reloj reloj, TopeRegistro tope = {}, QObject* parent = nullptr);
    ~Registro() override;

    void Escribir(const QString& mensaje);

    QString ArchivoDelDia(const QDate& dia) const;

signals:
    void lineaEscrita(const QString& linea);

private:
    friend class LoteRegistro;
    void Vaciar();

    void ActualizarSello(qint64 ms);
    bool AbrirArchivo();
    void RevisarArchivo();
    void Emitir(const QString& linea);
    void Resumir();

    QString m_carpetaLogs;
    Reloj m_reloj;
    qint64 m_segundoSello = std::numeric_limits<qint64>::min();
    QString m_sello;       // "yyyy-MM-dd HH:mm:ss" of m_segundoSello
    QDate m_dia;           // local day of m_segundoSello
    QString m_rutaArchivo; // that day's file
    ArchivoAnexo m_archivo;
    qint64 m_ultimaLimpieza = 0;
    QDate m_diaLimpieza;
    qint64 m_tope;
    qint64 m_bytesDelDia = 0;   // size of the day's file: read when it is opened or looked up, then counted
    bool m_cuentaLeida = false; // m_bytesDelDia is the size just read, nothing counted on top since
    qint64 m_omitidas = 0;
    QTimer m_resumen;
    int m_lotes = 0;        // LoteRegistro alive
    QByteArray m_pendiente; // their lines, not yet in the file (counted in m_bytesDelDia)
};

// The lines written while it lives (a request and its answer, handled in one pass of the event loop) reach the day's
// file in one write when it ends, instead of one write each. It must end before the event loop waits again: a line
// is in the file, not in the agent's memory, whenever the agent could be killed while idle.
class LoteRegistro final
{
public:
    LoteRegistro();
    ~LoteRegistro();
    LoteRegistro(const LoteRegistro&) = delete;
    LoteRegistro& operator=(const LoteRegistro&) = delete;

private:
    Registro* m_registro;
};

// Deletes the ordinary files "log_*.log" (any case) of `carpeta` last modified before local midnight of `hoy`
// minus `dias` days. Failures are skipped silently.
void LimpiarLogsAntiguos(const QString& carpeta, int dias, const QDate& hoy);

// The process's log. EscribirLog goes to the installed Registro, or to standard error when there is none.
void InstalarRegistro(Registro* registro);
void EscribirLog(const QString& mensaje);
