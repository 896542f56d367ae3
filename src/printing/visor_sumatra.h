#pragma once

#include "printing/visor.h"

class Lanzador;

#include <QStringList>

// SumatraPDF beside the executable prints without a window and reads the saved file itself.
class VisorSumatra final : public VisorPDF
{
public:
    explicit VisorSumatra(const QString& carpetaPrograma, Lanzador& lanzador);

    void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                     AlIniciar alIniciar) override;

    // The arguments after the program, and the whole command line as it is logged.
    static QStringList Argumentos(const QString& rutaPDF, const QString& impresora);
    static QString LineaDeComando(const QString& rutaVisor, const QString& rutaPDF, const QString& impresora);

private:
    Lanzador& m_lanzador;
    QString m_rutaVisor;
};
