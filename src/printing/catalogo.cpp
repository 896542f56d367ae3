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
    const QString mayusculas = nombre.toUpper();
    qsizetype inicio = 0;
    qsizetype fin = mayusculas.size();
    while (inicio < fin && mayusculas[inicio] == u' ') {
        ++inicio;
    }
    while (fin > inicio && mayusculas[fin - 1] == u' ') {
        --fin;
    }
    return mayusculas.mid(inicio, fin - inicio);
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
