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

// The number at the start of a text, read one character at a time (one method per part of the number) without the
// skipped ones, then converted in one go.
class LectorNumero
{
public:
    // False once `c` cannot continue the number.
    bool Leer(QChar c)
    {
        switch (m_fase) {
        case Fase::Signo:
            return LeerSigno(c);
        case Fase::Entero:
            return LeerEntero(c);
        case Fase::Fraccion:
            return LeerFraccion(c);
        case Fase::SignoExponente:
            return LeerSignoExponente(c);
        case Fase::DigitosExponente:
            return LeerDigitoExponente(c);
        }
        return false;
    }

    // False when the value is too large for a double; no digits read as 0.
    bool Convertir(double& valor) const;
    bool HayDigitos() const { return m_hayDigitos; }

private:
    enum class Fase
    {
        Signo,
        Entero,
        Fraccion,
        SignoExponente,
        DigitosExponente
    };

    bool LeerSigno(QChar c)
    {
        m_fase = Fase::Entero;
        if (c == u'+' || c == u'-') {
            m_negativo = c == u'-';
            return true;
        }
        return LeerEntero(c);
    }

    bool LeerEntero(QChar c)
    {
        if (c == u'.') {
            m_mantisa += '.';
            m_fase = Fase::Fraccion;
            return true;
        }
        return LeerFraccion(c);
    }

    bool LeerFraccion(QChar c)
    {
        if (EsDigito(c)) {
            m_mantisa += char(c.unicode());
            m_hayDigitos = true;
            return true;
        }
        if ((c == u'E' || c == u'e') && m_hayDigitos) {
            m_fase = Fase::SignoExponente;
            return true;
        }
        return false;
    }

    bool LeerSignoExponente(QChar c)
    {
        m_fase = Fase::DigitosExponente;
        if (c == u'+' || c == u'-') {
            m_exponenteNegativo = c == u'-';
            return true;
        }
        return LeerDigitoExponente(c);
    }

    bool LeerDigitoExponente(QChar c)
    {
        if (!EsDigito(c)) {
            return false;
        }
        m_exponente += char(c.unicode());
        return true;
    }

    // For a value from_chars found out of range: whether it is tiny (reads as zero) rather than huge. The decimal
    // order of the value tells which.
    bool EsDiminuto() const;

    Fase m_fase = Fase::Signo;
    QByteArray m_mantisa;
    QByteArray m_exponente;
    bool m_negativo = false;
    bool m_hayDigitos = false;
    bool m_exponenteNegativo = false;
};

bool LectorNumero::Convertir(double& valor) const
{
    valor = 0;
    if (!m_hayDigitos) {
        return true;
    }
    QByteArray numero = m_mantisa;
    if (!m_exponente.isEmpty()) {
        numero += m_exponenteNegativo ? "e-" : "e";
        numero += m_exponente;
    }
    double leido = 0;
    const auto [fin, ec] =
        std::from_chars(numero.constData(), numero.constData() + numero.size(), leido, std::chars_format::general);
    Q_UNUSED(fin);
    if (ec == std::errc::result_out_of_range) {
        return EsDiminuto();
    }
    if (ec != std::errc()) {
        return true;
    }
    valor = m_negativo ? -leido : leido;
    return true;
}

bool LectorNumero::EsDiminuto() const
{
    const qsizetype punto = m_mantisa.contains('.') ? m_mantisa.indexOf('.') : m_mantisa.size();
    qsizetype primero = -1;
    for (qsizetype i = 0; i < m_mantisa.size(); ++i) {
        if (m_mantisa.at(i) >= '1' && m_mantisa.at(i) <= '9') {
            primero = i;
            break;
        }
    }
    if (primero < 0) {
        return true;
    }
    qint64 orden = primero < punto ? punto - primero : punto - primero + 1;
    qint64 valorExponente = 0;
    for (char d : m_exponente) {
        valorExponente = std::min<qint64>(valorExponente * 10 + (d - '0'), qint64(1) << 40);
    }
    orden += m_exponenteNegativo ? -valorExponente : valorExponente;
    return orden <= 0;
}

LectorNumero LeerInicio(const QString& texto)
{
    LectorNumero lector;
    for (QChar c : texto) {
        if (!EsIgnorado(c) && !lector.Leer(c)) {
            break;
        }
    }
    return lector;
}

} // namespace

bool LeerNumeroInicial(const QString& texto, double& valor)
{
    return LeerInicio(texto).Convertir(valor);
}

bool EmpiezaConNumero(const QString& texto)
{
    return LeerInicio(texto).HayDigitos();
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
