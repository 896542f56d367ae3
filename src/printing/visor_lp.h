#pragma once

#include "visor.h"

#include <QStringList>

// CUPS's lp. It is given the request's own bytes on its standard input, so two prints in a row print their own
// documents even though both went through the same saved file. A job that lp refuses after it started is logged
// with lp's exit code and its error output.
class VisorLp final : public VisorPDF
{
public:
    explicit VisorLp(Lanzador& lanzador);

    void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                     AlIniciar alIniciar) override;

    // lp's arguments for a printer name or the keyword. CUPS names hold no spaces, so spaces around a name are
    // dropped: " Caja " prints on Caja.
    static QStringList Argumentos(const QString& impresora);
    // The command as it would be typed in a shell, with the saved file as its input.
    static QString LineaDeComando(const QString& rutaPDF, const QString& impresora);

private:
    Lanzador& m_lanzador;
};
