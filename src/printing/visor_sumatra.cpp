#include "printing/visor_sumatra.h"

#include "base/lanzador.h"
#include "base/registro.h"
#include "printing/lista_impresoras.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString EntreComillas(const QString& texto)
{
    return u'"' + texto + u'"';
}

} // namespace

VisorSumatra::VisorSumatra(const QString& carpetaPrograma, Lanzador& lanzador)
    : m_lanzador(lanzador)
    , m_rutaVisor(carpetaPrograma + QStringLiteral("/SumatraPDF-3.5.2-32.exe"))
{
}

QStringList VisorSumatra::Argumentos(const QString& rutaPDF, const QString& impresora, const QString& ajustes)
{
    const QString pdf = QDir::toNativeSeparators(rutaPDF);
    if (EsPredeterminada(impresora)) {
        return {QStringLiteral("-print-to-default"), QStringLiteral("-silent"), QStringLiteral("-print-settings"),
                ajustes, pdf};
    }
    return {QStringLiteral("-print-to"), impresora, QStringLiteral("-print-settings"), ajustes,
            QStringLiteral("-silent"),   pdf};
}

QString VisorSumatra::LineaDeComando(const QString& rutaVisor, const QString& rutaPDF, const QString& impresora,
                                     const QString& ajustes)
{
    const QString visor = EntreComillas(QDir::toNativeSeparators(rutaVisor));
    const QString pdf = EntreComillas(QDir::toNativeSeparators(rutaPDF));
    const QString ajuste = EntreComillas(ajustes);
    if (EsPredeterminada(impresora)) {
        return QStringList{visor,
                           QStringLiteral("-print-to-default"),
                           QStringLiteral("-silent"),
                           QStringLiteral("-print-settings"),
                           ajuste,
                           pdf}
            .join(u' ');
    }
    return QStringList{visor,
                       QStringLiteral("-print-to"),
                       EntreComillas(impresora),
                       QStringLiteral("-print-settings"),
                       ajuste,
                       QStringLiteral("-silent"),
                       pdf}
        .join(u' ');
}

void VisorSumatra::ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray&,
                               const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar)
{
    if (!QFileInfo::exists(m_rutaVisor)) {
        EscribirLog(QStringLiteral("? No se encontró SumatraPDF.exe en: ") + QDir::toNativeSeparators(m_rutaVisor));
        alIniciar(false);
        return;
    }
    const QString ajustes = AjustesSumatra(opciones);
    int codigo = 0;
    if (!m_lanzador.IniciarDesligado(m_rutaVisor, Argumentos(rutaPDF, impresora, ajustes), QString(), codigo)) {
        EscribirLog(QStringLiteral("? Error al intentar imprimir: ") + QDir::toNativeSeparators(rutaPDF));
        alIniciar(false);
        return;
    }
    EscribirLog(QStringLiteral("? Impresión enviada con comando: ") +
                LineaDeComando(m_rutaVisor, rutaPDF, impresora, ajustes));
    alIniciar(true);
}
