#include "base/texto.h"

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

namespace {

enum class Destino
{
    Json,
    Log
};

bool EsControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

// One escaper for both destinations: JSON needs quote, backslash and C0 controls escaped; a log line needs every
// control that could break or restyle it, and nothing else touched so that names read as they came.
QString Escapar(const QString& texto, Destino destino)
{
    QString salida;
    salida.reserve(texto.size() + 8);
    for (const QChar c : texto) {
        const char16_t u = c.unicode();
        if (destino == Destino::Json) {
            switch (u) {
            case '"':
                salida += QLatin1String("\\\"");
                continue;
            case '\\':
                salida += QLatin1String("\\\\");
                continue;
            case '\b':
                salida += QLatin1String("\\b");
                continue;
            case '\f':
                salida += QLatin1String("\\f");
                continue;
            case '\n':
                salida += QLatin1String("\\n");
                continue;
            case '\r':
                salida += QLatin1String("\\r");
                continue;
            case '\t':
                salida += QLatin1String("\\t");
                continue;
            default:
                break;
            }
        }
        const bool escapar = destino == Destino::Json ? u < 0x20 : EsControl(u);
        if (escapar) {
            salida += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            salida += c;
        }
    }
    return salida;
}

} // namespace

QString EscaparJSON(const QString& texto)
{
    return Escapar(texto, Destino::Json);
}

QString EscaparParaLog(const QString& texto)
{
    return Escapar(texto, Destino::Log);
}

QString Recortar(const QString& texto, qsizetype maximo)
{
    if (texto.size() <= maximo) {
        return texto;
    }
    return texto.left(maximo) + QStringLiteral("… (%1 caracteres más)").arg(texto.size() - maximo);
}

QString ParaLog(const QString& texto, qsizetype maximo)
{
    return EscaparParaLog(Recortar(texto, maximo));
}

QStringView SinEspacios(QStringView texto, QStringView blancos)
{
    qsizetype inicio = 0;
    qsizetype fin = texto.size();
    while (inicio < fin && blancos.contains(texto[inicio])) {
        ++inicio;
    }
    while (fin > inicio && blancos.contains(texto[fin - 1])) {
        --fin;
    }
    return texto.mid(inicio, fin - inicio);
}
