#pragma once

#include "printing/visor.h"

class Lanzador;

class ListaImpresoras;

#include <QStringList>

// CUPS's lp. It is given the request's own bytes on its standard input, so two prints in a row print their own
// documents even though both went through the same saved file. A job that lp refuses after it started is logged
// with lp's exit code and its error output.
class VisorLp final : public VisorPDF
{
public:
    // Both must outlive the viewer.
    explicit VisorLp(Lanzador& lanzador, const ListaImpresoras& impresoras);
    // With a printer list of its own.
    explicit VisorLp(Lanzador& lanzador, std::unique_ptr<ListaImpresoras> impresoras);
    ~VisorLp() override;

    using VisorPDF::ImprimirPDF;
    void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                     const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar alEncolar) override;

    // lp's arguments for a printer name or the keyword. CUPS compares names case-insensitively only in ASCII and
    // holds no spaces in them, so a name is replaced by the installed printer's own name when they match the way the
    // agent compares names (upper-cased, spaces around removed): " impresión " prints on Impresión.
    // The options follow as CUPS job attributes ("-o fit-to-page" alone when there are none).
    static QStringList Argumentos(const QString& impresora, const QStringList& instaladas,
                                  const OpcionesImpresion& opciones = OpcionesImpresion());
    // The job id in what lp prints under the C locale ("request id is Caja-12 (1 file(s))"), or empty.
    static QString IdDeTrabajo(const QByteArray& salida);
    // The command as it would be typed in a shell, with the saved file as its input.
    static QString LineaDeComando(const QString& rutaPDF, const QStringList& argumentos);

private:
    Lanzador& m_lanzador;
    std::unique_ptr<ListaImpresoras> m_propia;
    const ListaImpresoras& m_impresoras;
};
