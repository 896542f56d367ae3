#pragma once

#include "printing/opciones.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Prints a PDF by starting an outside program; never waits for it.
class VisorPDF
{
public:
    using AlIniciar = std::function<void(bool iniciado)>;
    // Heard once the program has handed the job to the spooler: the spooler's id of it, or, when the spooler
    // refused it, empty with the reason.
    using AlEncolar = std::function<void(const QString& idSpooler, const QString& fallo)>;

    virtual ~VisorPDF() = default;

    // Prints the PDF saved at `rutaPDF`, whose bytes are `contenido`, on `impresora` (a printer name, or the
    // keyword in any case with spaces around it for the default printer). `alIniciar` hears once whether the
    // program started, before this returns or later from the event loop; every outcome is logged. `alEncolar`
    // (may be empty) is heard later when the program tells the job's id; a program that does not is found by
    // its document name instead (BuscaPorDocumento).
    virtual void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                             const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar alEncolar) = 0;
    void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido, AlIniciar alIniciar)
    {
        ImprimirPDF(rutaPDF, impresora, contenido, OpcionesImpresion(), std::move(alIniciar), nullptr);
    }

    // True when the program never tells the job's id: the job is the one whose document name holds the PDF's
    // file name.
    virtual bool BuscaPorDocumento() const { return false; }
};
