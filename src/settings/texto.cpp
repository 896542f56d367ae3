#include "texto.h"

#include <QStringDecoder>

QString DecodificarWindows1252(const QByteArray& bytes)
{
    // 0x80..0x9F differ from Latin-1; 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined and kept as C1 controls.
    static const char16_t alto[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString texto(bytes.size(), Qt::Uninitialized);
    QChar* destino = texto.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *destino++ = (b >= 0x80 && b < 0xA0) ? QChar(alto[b - 0x80]) : QChar(b);
    }
    return texto;
}

QString DecodificarTexto(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString texto = utf8.decode(bytes);
    if (!utf8.hasError()) {
        return texto;
    }
    return DecodificarWindows1252(bytes);
}

QString EscaparJSON(const QString& texto)
{
    QString salida;
    salida.reserve(texto.size() + 8);
    for (const QChar c : texto) {
        switch (c.unicode()) {
        case '"':
            salida += QLatin1String("\\\"");
            break;
        case '\\':
            salida += QLatin1String("\\\\");
            break;
        case '\b':
            salida += QLatin1String("\\b");
            break;
        case '\f':
            salida += QLatin1String("\\f");
            break;
        case '\n':
            salida += QLatin1String("\\n");
            break;
        case '\r':
            salida += QLatin1String("\\r");
            break;
        case '\t':
            salida += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20) {
                salida += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            } else {
                salida += c;
            }
        }
    }
    return salida;
}

QString Recortar(const QString& texto, qsizetype maximo)
{
    if (texto.size() <= maximo) {
        return texto;
    }
    return texto.left(maximo) + QStringLiteral("… (%1 caracteres más)").arg(texto.size() - maximo);
}

QStringView SinEspacios(QStringView texto)
{
    qsizetype inicio = 0;
    qsizetype fin = texto.size();
    while (inicio < fin && texto[inicio] == u' ') {
        ++inicio;
    }
    while (fin > inicio && texto[fin - 1] == u' ') {
        --fin;
    }
    return texto.mid(inicio, fin - inicio);
}
