#include "printing/lista_impresoras.h"

#include "base/texto.h"

QString CatalogoImpresoras(const QStringList& nombres)
{
    QString texto = QStringLiteral("{\"impresoras\":[\"") + kPredeterminada + u'"';
    for (const QString& nombre : nombres) {
        texto += QStringLiteral(",\"") + EscaparJSON(nombre) + u'"';
    }
    texto += QStringLiteral("]}");
    return texto;
}

QString PrepararNombre(const QString& nombre)
{
    return SinEspacios(nombre.toUpper()).toString();
}

qsizetype IndiceImpresora(const QStringList& nombres, const QString& nombre)
{
    const QString buscado = PrepararNombre(nombre);
    for (qsizetype i = 0; i < nombres.size(); ++i) {
        if (PrepararNombre(nombres[i]) == buscado) {
            return i;
        }
    }
    return -1;
}

bool ExisteImpresoraEn(const QStringList& nombres, const QString& nombre)
{
    return IndiceImpresora(nombres, nombre) >= 0;
}

bool EsPredeterminada(const QString& nombre)
{
    return PrepararNombre(nombre) == kPredeterminada;
}
