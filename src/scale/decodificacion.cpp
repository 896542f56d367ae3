#include "scale/decodificacion.h"

#include "base/texto.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace {

bool EsIgnorado(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool EsDigito(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Fixed-point text of `valor` with `decimales` decimals and at least `enteros` integer digits. Plain ASCII digits
// and a point, whatever the locale; a value that rounds to zero carries no minus sign.
QString FormatoFijo(double valor, int enteros, int decimales)
{
    QString texto = QString::number(std::fabs(valor), 'f', decimales);
    const qsizetype punto = texto.indexOf(u'.');
    const qsizetype digitosEnteros = punto < 0 ? texto.size() : punto;
    if (digitosEnteros < enteros) {
        texto.prepend(QString(enteros - digitosEnteros, u'0'));
    }
    bool todoCeros = true;
    for (QChar c : texto) {
        if (c != u'0' && c != u'.') {
            todoCeros = false;
            break;
        }
    }
    if (valor < 0 && !todoCeros) {
        texto.prepend(u'-');
    }
    return texto;
}

} // namespace

bool LeerNumeroInicial(const QString& texto, double& valor)
{
    // Gather the number's characters without the skipped ones, then convert them in one go.
    QByteArray mantisa;
    QByteArray exponente;
    bool negativo = false;
    enum class Fase
    {
        Signo,
        Entero,
        Fraccion,
        SignoExponente,
        DigitosExponente
    } fase = Fase::Signo;
    bool hayDigitos = false;
    bool exponenteNegativo = false;

    for (QChar c : texto) {
        if (EsIgnorado(c)) {
            continue;
        }
        bool sigue = true;
        switch (fase) {
        case Fase::Signo:
            if (c == u'+' || c == u'-') {
                negativo = c == u'-';
                fase = Fase::Entero;
                break;
            }
            fase = Fase::Entero;
            [[fallthrough]];
        case Fase::Entero:
            if (EsDigito(c)) {
                mantisa += char(c.unicode());
                hayDigitos = true;
            } else if (c == u'.') {
                mantisa += '.';
                fase = Fase::Fraccion;
            } else if ((c == u'E' || c == u'e') && hayDigitos) {
                fase = Fase::SignoExponente;
            } else {
                sigue = false;
            }
            break;
        case Fase::Fraccion:
            if (EsDigito(c)) {
                mantisa += char(c.unicode());
                hayDigitos = true;
            } else if ((c == u'E' || c == u'e') && hayDigitos) {
                fase = Fase::SignoExponente;
            } else {
                sigue = false;
            }
            break;
        case Fase::SignoExponente:
            if (c == u'+' || c == u'-') {
                exponenteNegativo = c == u'-';
                fase = Fase::DigitosExponente;
                break;
            }
            fase = Fase::DigitosExponente;
            [[fallthrough]];
        case Fase::DigitosExponente:
            if (EsDigito(c)) {
                exponente += char(c.unicode());
            } else {
                sigue = false;
            }
            break;
        }
        if (!sigue) {
            break;
        }
    }

    valor = 0;
    if (!hayDigitos) {
        return true;
    }
    QByteArray numero = mantisa;
    if (!exponente.isEmpty()) {
        numero += exponenteNegativo ? "e-" : "e";
        numero += exponente;
    }
    double leido = 0;
    const auto [fin, ec] =
        std::from_chars(numero.constData(), numero.constData() + numero.size(), leido, std::chars_format::general);
    Q_UNUSED(fin);
    if (ec == std::errc::result_out_of_range) {
        // Out of range either way: tiny values read as zero, huge ones are a failure. The decimal order of the
        // value tells which.
        const qsizetype punto = mantisa.contains('.') ? mantisa.indexOf('.') : mantisa.size();
        qsizetype primero = -1;
        for (qsizetype i = 0; i < mantisa.size(); ++i) {
            if (mantisa.at(i) >= '1' && mantisa.at(i) <= '9') {
                primero = i;
                break;
            }
        }
        if (primero < 0) {
            return true;
        }
        qint64 orden = primero < punto ? punto - primero : punto - primero + 1;
        qint64 valorExponente = 0;
        for (char d : exponente) {
            valorExponente = std::min<qint64>(valorExponente * 10 + (d - '0'), qint64(1) << 40);
        }
        orden += exponenteNegativo ? -valorExponente : valorExponente;
        return orden <= 0;
    }
    if (ec != std::errc()) {
        return true;
    }
    valor = negativo ? -leido : leido;
    return true;
}

QString InfoRecepcionBascula(const QString& datos, const QString& protocolo)
{
    double numero = 0;
    if (!LeerNumeroInicial(datos, numero)) {
        return QStringLiteral("ERR");
    }
    const QString nombre = protocolo.toUpper();
    // Kretz characters go out exactly as the scale sent them, a comma included; the number rules format with a
    // point whatever the locale, so they never produce a comma either.
    if (nombre.startsWith(QLatin1String("KRETZ"))) {
        return datos.mid(1, 6);
    }
    if (nombre.startsWith(QLatin1String("SYSTEL"))) {
        return FormatoFijo(numero / 1000.0, 1, 3);
    }
    if (nombre.endsWith(QLatin1String("100KG"))) {
        return FormatoFijo(numero / 100.0, 3, 2);
    }
    return SinEspacios(datos).toString();
}
