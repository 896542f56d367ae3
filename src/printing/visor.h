#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Prints a PDF by starting an outside program; never waits for it.
class VisorPDF
{
public:
    using AlIniciar = std::function<void(bool iniciado)>;

    virtual ~VisorPDF() = default;

    // Prints the PDF saved at `rutaPDF`, whose bytes are `contenido`, on `impresora` (a printer name, or the
    // keyword in any case with spaces around it for the default printer). `alIniciar` hears once whether the
    // program started, before this returns or later from the event loop; every outcome is logged.
    virtual void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                             AlIniciar alIniciar) = 0;
};
