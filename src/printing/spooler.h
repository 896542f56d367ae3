#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Where a print job stands, as the agent reports it.
enum class EstadoTrabajo
{
    Enviado,     // handed on; the spooler has not shown it yet
    EnCola,      // waiting, held, or stopped on a printer that cannot go on
    Imprimiendo, // being printed
    Terminado,
    Fallido,
    Cancelado,
    Desconocido, // the platform cannot tell
};

// "en cola", "terminado"...: the state's name in answers.
QString NombreEstado(EstadoTrabajo estado);
// Terminado, Fallido and Cancelado never change again.
bool EsEstadoFinal(EstadoTrabajo estado);

struct InfoTrabajo
{
    EstadoTrabajo estado = EstadoTrabajo::Desconocido;
    QString detalle; // the spooler's reason, when it gives one
};

struct DetalleImpresora
{
    QString nombre;
    QString estado = QStringLiteral("desconocido"); // "lista", "imprimiendo", "detenida" or "desconocido"
    QString motivo;
    QStringList papeles;
    QStringList bandejas;
    bool duplex = false;
    bool color = false;
};

// One raw job being handed to the spooler, a piece at a time. Dropped before Terminar, the job is withdrawn; dropped
// before its answer, the answer never comes.
class EnvioDirecto
{
public:
    // The spooler's job id once it has accepted every byte, or an empty id and its reason.
    using AlTerminar = std::function<void(const QString& id, const QString& motivo)>;

    virtual ~EnvioDirecto() = default;
    // False, with the spooler's reason, when the spooler did not take the bytes.
    virtual bool Escribir(QByteArrayView trozo, QString& motivo) = 0;
    // Runs `seguir` once, when the spooler can take another piece without the agent holding the last one (or once
    // the job has ended, for Escribir to tell why): at once for a spooler that takes each piece as it is written.
    virtual void CuandoPuedaSeguir(std::function<void()> seguir) { seguir(); }
    // Closes the document; `alTerminar` runs once, from the event loop or before this returns.
    virtual void Terminar(AlTerminar alTerminar) = 0;
};

// The system's print spooler: CUPS through its own protocol, or the Windows spooler. No call waits for the spooler:
// an answer comes through its callback, once, before the call returns or later from the event loop, and never after
// the spooler is gone. A local spooler answers within milliseconds; none waits for a printer.
class Spooler
{
public:
    using AlSaberPredeterminada = std::function<void(const QString& nombre)>;
    using AlSaberDetalle = std::function<void(const std::optional<DetalleImpresora>& detalle)>;
    using AlSaberTrabajo = std::function<void(const InfoTrabajo& info)>;
    // The printers' names, or nothing when the spooler leaves them to the system's printer list.
    using AlSaberImpresoras = std::function<void(const std::optional<QStringList>& nombres)>;

    virtual ~Spooler() = default;

    // The installed printers, in the order the system's printer list gives them, for the check before a print.
    virtual void Impresoras(AlSaberImpresoras alSaber);
    // The default printer's name, or empty when there is none.
    virtual void Predeterminada(AlSaberPredeterminada alSaber) = 0;
    // What the spooler says of a printer by its exact name; nothing when it does not know it.
    virtual void Detalle(const QString& impresora, AlSaberDetalle alSaber) = 0;
    // A raw job (bytes sent unchanged) on a printer named exactly; null with the reason when it cannot begin.
    virtual std::unique_ptr<EnvioDirecto> AbrirDirecto(const QString& impresora, const QString& nombreTrabajo,
                                                       QString& motivo) = 0;
    // A PDF job on a printer named exactly, handed over like a raw one, with CUPS job attributes ("copies=2", or a
    // bare name for true). A spooler that takes no documents itself refuses it with its reason.
    virtual std::unique_ptr<EnvioDirecto> AbrirPDF(const QString& impresora, const QString& nombreTrabajo,
                                                   const QStringList& atributos, QString& motivo);
    // The state of a job by the spooler's id.
    virtual void Consultar(const QString& impresora, const QString& id, AlSaberTrabajo alSaber) = 0;
    // The id of the printer's job whose document name holds `documento`, or empty when none does (or the spooler
    // cannot list its jobs). Only a spooler that answers at once is asked.
    virtual QString BuscarPorDocumento(const QString& impresora, const QString& documento) const = 0;
};

std::unique_ptr<Spooler> CrearSpoolerDelSistema();
