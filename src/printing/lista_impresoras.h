#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The installed printers as the system lists them, read afresh on every call.
class ListaImpresoras
{
public:
    virtual ~ListaImpresoras() = default;
    // Device names, in the system's order; the names the printing programs take.
    virtual QStringList Nombres() const = 0;
};

// The platform's print system: CUPS's destinations, or the Windows printers as QPrinterInfo lists them.
std::unique_ptr<ListaImpresoras> CrearListaImpresorasDelSistema();

// Stands for the system's default printer wherever a printer name is asked for.
inline const QString kPredeterminada = QStringLiteral("PREDETERMINADA");

// {"impresoras":["PREDETERMINADA",...]}: the keyword first, then every printer in list order, names escaped.
QString CatalogoImpresoras(const QStringList& nombres);

// Upper-cased with leading and trailing spaces removed (spaces only): how printer names are compared.
QString PrepararNombre(const QString& nombre);

// The position of the first of `nombres` that equals `nombre` once both are prepared, or -1.
qsizetype IndiceImpresora(const QStringList& nombres, const QString& nombre);
// True when one of `nombres` equals `nombre` once both are prepared. Whole names only; the keyword is a name like
// any other here.
bool ExisteImpresoraEn(const QStringList& nombres, const QString& nombre);

// True when the name asks for the default printer: prepared, it is the keyword.
bool EsPredeterminada(const QString& nombre);
