#include "catalogo.h"

#include "settings/texto.h"

#include <QPrinterInfo>

namespace {

class ListaQPrinterInfo final : public ListaImpresoras
{
public:
    QStringList Nombres() const override { return QPrinterInfo::availablePrinterNames(); }
};

} // namespace

std::unique_ptr<ListaImpresoras> CrearListaImpresorasDelSistema()
{
    return std::make_unique<ListaQPrinterInfo>();
}

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

bool ExisteImpresoraEn(const QStringList& nombres, const QString& nombre)
{
    const QString buscado = PrepararNombre(nombre);
    for (const QString& instalada : nombres) {
        if (PrepararNombre(instalada) == buscado) {
            return true;
        }
    }
    return false;
}

bool EsPredeterminada(const QString& nombre)
{
    return PrepararNombre(nombre) == kPredeterminada;
}
