#include "settings/ini.h"

#include "base/texto.h"

#include <QFile>
#include <QStringView>

namespace {

// Blanks around names and values, as the Windows profile reader trims them.
QStringView SinBlancos(QStringView texto)
{
    return SinEspacios(texto, u" \t");
}

} // namespace

QString LeerINITexto(const QString& seccion, const QString& clave, const QString& valorPorDefecto,
                     const QString& contenido)
{
    QStringView resto(contenido);
    if (resto.startsWith(QChar(0xFEFF))) {
        resto = resto.mid(1);
    }
    bool enSeccion = false;
    bool seccionVista = false;
    while (!resto.isEmpty()) {
        const qsizetype finLinea = resto.indexOf(u'\n');
        QStringView linea = finLinea < 0 ? resto : resto.left(finLinea);
        resto = finLinea < 0 ? QStringView() : resto.mid(finLinea + 1);
        if (linea.endsWith(u'\r')) {
            linea.chop(1);
        }
        linea = SinBlancos(linea);
        if (linea.isEmpty() || linea.startsWith(u';')) {
            continue;
        }
        if (linea.startsWith(u'[')) {
            // Only the first section of that name counts, as with the Windows reader.
            if (seccionVista && enSeccion) {
                break;
            }
            const qsizetype cierre = linea.indexOf(u']');
            const QStringView nombre = SinBlancos(cierre < 0 ? linea.mid(1) : linea.mid(1, cierre - 1));
            enSeccion = nombre.compare(seccion, Qt::CaseInsensitive) == 0;
            seccionVista = seccionVista || enSeccion;
            continue;
        }
        if (!enSeccion) {
            continue;
        }
        const qsizetype igual = linea.indexOf(u'=');
        if (igual < 0) {
            continue;
        }
        if (SinBlancos(linea.left(igual)).compare(clave, Qt::CaseInsensitive) != 0) {
            continue;
        }
        QStringView valor = SinBlancos(linea.mid(igual + 1));
        if (valor.size() >= 2 && (valor.front() == u'"' || valor.front() == u'\'') && valor.back() == valor.front()) {
            valor = valor.mid(1, valor.size() - 2);
        }
        return valor.left(kLargoMaximoValorINI).toString();
    }
    return valorPorDefecto.left(kLargoMaximoValorINI);
}

QString LeerINI(const QString& seccion, const QString& clave, const QString& valorPorDefecto, const QString& ruta)
{
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly)) {
        return valorPorDefecto.left(kLargoMaximoValorINI);
    }
    return LeerINITexto(seccion, clave, valorPorDefecto, DecodificarTexto(archivo.readAll()));
}
