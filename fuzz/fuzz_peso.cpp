// The weight reply decoding. Input: a protocol name, a line feed, then the scale's reply bytes (read as the serial
// link reads them, Windows-1252). Without a line feed the whole input is the reply. Every reply is also decoded
// under one protocol of each family.
#include "comun.h"

#include "base/texto.h"
#include "scale/decodificacion.h"

#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// The leading number as plainly as it can be said: drop the skipped characters, take the longest prefix of the form
// [sign] digits [. digits] [E [sign] digits] with at least one mantissa digit, and let strtod read it.
struct Referencia
{
    bool desborda = false;
    bool diminuto = false; // below the normal doubles: zero or a subnormal value are both right
    double valor = 0;
};

Referencia NumeroDeReferencia(const QString& texto)
{
    QByteArray limpio;
    for (const QChar c : texto) {
        if (c == u' ' || c == u'\t' || c == u'\n') {
            continue;
        }
        // Anything outside ASCII ends the number; keep a stand-in that cannot continue it.
        limpio += c.unicode() < 0x80 ? char(c.unicode()) : '#';
    }
    static const QRegularExpression kNumero(
        QStringLiteral("^[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?"));
    const QRegularExpressionMatch m = kNumero.match(QString::fromLatin1(limpio));
    Referencia r;
    if (!m.hasMatch()) {
        return r;
    }
    const QByteArray numero = m.captured(0).toLatin1();
    errno = 0;
    char* fin = nullptr;
    const double v = std::strtod(numero.constData(), &fin);
    if (errno == ERANGE && std::isinf(v)) {
        r.desborda = true;
        return r;
    }
    r.diminuto = errno == ERANGE;
    r.valor = r.diminuto ? 0 : v;
    return r;
}

void ComprobarFijo(const QString& resultado, double esperado, int enteros, int decimales, const QString& donde)
{
    const QString patron = QStringLiteral("^-?[0-9]{%1,}\\.[0-9]{%2}$").arg(enteros).arg(decimales);
    FUZZ_COMPROBAR(QRegularExpression(patron).match(resultado).hasMatch(),
                   donde + QStringLiteral(": not a fixed-point text: ") + fuzz::Mostrar(resultado));
    const qsizetype punto = resultado.indexOf(u'.');
    const qsizetype digitos = resultado.startsWith(u'-') ? punto - 1 : punto;
    const qsizetype primero = resultado.startsWith(u'-') ? 1 : 0;
    FUZZ_COMPROBAR(digitos == enteros || resultado[primero] != u'0',
                   donde + QStringLiteral(": more leading zeros than needed: ") + fuzz::Mostrar(resultado));
    const double leido = resultado.toDouble();
    FUZZ_COMPROBAR(!(leido == 0 && resultado.startsWith(u'-')),
                   donde + QStringLiteral(": a negative zero: ") + fuzz::Mostrar(resultado));
    // The nearest value with that many decimals: off by at most half a unit of the last place.
    const double media = 0.5 * std::pow(10.0, -decimales);
    const double tolerancia = media * (1 + 1e-9) + std::fabs(esperado) * 1e-15;
    FUZZ_COMPROBAR(std::fabs(leido - esperado) <= tolerancia,
                   donde + QStringLiteral(": %1 for %2").arg(resultado).arg(esperado, 0, 'g', 17));
}

void Comprobar(const QString& datos, const QString& protocolo)
{
    const QString resultado = InfoRecepcionBascula(datos, protocolo);
    const QString donde = QStringLiteral("protocol ") + fuzz::Mostrar(protocolo, 40) + QStringLiteral(", reply ") +
                          fuzz::Mostrar(datos, 80);
    const Referencia ref = NumeroDeReferencia(datos);

    double leido = 0;
    const bool cabe = LeerNumeroInicial(datos, leido);
    FUZZ_COMPROBAR(cabe == !ref.desborda, donde + QStringLiteral(": the number overflows or not, wrongly"));
    if (cabe) {
        FUZZ_COMPROBAR(
            ref.diminuto ? std::fabs(leido) < 1e-300 : leido == ref.valor,
            donde + QStringLiteral(": number %1, expected %2").arg(leido, 0, 'g', 17).arg(ref.valor, 0, 'g', 17));
    }
    if (ref.desborda) {
        FUZZ_COMPROBAR(resultado == QLatin1String("ERR"), donde + QStringLiteral(": ") + fuzz::Mostrar(resultado));
        return;
    }

    const QString nombre = protocolo.toUpper();
    if (nombre.startsWith(QLatin1String("KRETZ"))) {
        FUZZ_COMPROBAR(resultado == datos.mid(1, 6), donde + QStringLiteral(": ") + fuzz::Mostrar(resultado));
    } else if (nombre.startsWith(QLatin1String("SYSTEL"))) {
        ComprobarFijo(resultado, ref.valor / 1000.0, 1, 3, donde);
    } else if (nombre.endsWith(QLatin1String("100KG"))) {
        ComprobarFijo(resultado, ref.valor / 100.0, 3, 2, donde);
    } else {
        QString esperado = datos;
        while (esperado.startsWith(u' ')) {
            esperado.remove(0, 1);
        }
        while (esperado.endsWith(u' ')) {
            esperado.chop(1);
        }
        FUZZ_COMPROBAR(resultado == esperado, donde + QStringLiteral(": ") + fuzz::Mostrar(resultado));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Preparar();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t tamano)
{
    const QByteArray entrada(reinterpret_cast<const char*>(bytes), qsizetype(tamano));
    const qsizetype salto = entrada.indexOf('\n');
    const QByteArray respuesta = salto < 0 ? entrada : entrada.sliced(salto + 1);
    const QString datos = DecodificarWindows1252(respuesta);
    if (salto >= 0) {
        Comprobar(datos, DecodificarTexto(entrada.first(salto)));
    }
    for (const QString& protocolo : {QStringLiteral("Systel1"), QStringLiteral("KRETZ"), QStringLiteral("Mettler100kg"),
                                     QStringLiteral("SYSTEL100KG"), QStringLiteral("Dibal")}) {
        Comprobar(datos, protocolo);
    }
    return 0;
}
