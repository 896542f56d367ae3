#pragma once

#include "printing/visor.h"

class Lanzador;

#include <QStringList>

// SumatraPDF beside the executable prints without a window and reads the saved file itself.
class VisorSumatra final : public VisorPDF
{
public:
    explicit VisorSumatra(const QString& carpetaPrograma, Lanzador& lanzador);

    using VisorPDF::ImprimirPDF;
    void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                     const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar alEncolar) override;
    // SumatraPDF names the job after the file it prints.
    bool BuscaPorDocumento() const override { return true; }

    // The arguments after the program, and the whole command line as it is logged; `ajustes` is the
    // -print-settings list (AjustesSumatra).
    static QStringList Argumentos(const QString& rutaPDF, const QString& impresora,
                                  const QString& ajustes = QStringLiteral("fit"));
    static QString LineaDeComando(const QString& rutaVisor, const QString& rutaPDF, const QString& impresora,
                                  const QString& ajustes = QStringLiteral("fit"));

private:
    Lanzador& m_lanzador;
    QString m_rutaVisor;
};
