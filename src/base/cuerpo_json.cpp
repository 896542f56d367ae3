#include "base/cuerpo_json.h"

#include "base/base64.h"
#include "base/memoria.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>

#include <array>
#include <cstring>

namespace {

// The value of each Base64 character; 0x80 for every other byte.
constexpr std::array<unsigned char, 256> kValor = [] {
    std::array<unsigned char, 256> tabla{};
    tabla.fill(0x80);
    const char* alfabeto = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned char i = 0; i < 64; ++i) {
        tabla[static_cast<unsigned char>(alfabeto[i])] = i;
    }
    return tabla;
}();

bool EsBlanco(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::optional<QJsonObject> ParsearJSON(const QByteArray& cuerpo)
{
    QJsonParseError error{};
    const QJsonDocument documento = QJsonDocument::fromJson(cuerpo, &error);
    if (error.error != QJsonParseError::NoError || !documento.isObject()) {
        return std::nullopt;
    }
    return documento.object();
}

QString LeerTexto(const QJsonObject& objeto, const QString& miembro)
{
    const QJsonValue valor = objeto.value(miembro);
    switch (valor.type()) {
    case QJsonValue::String:
        return valor.toString();
    case QJsonValue::Double:
        return QString::number(valor.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QJsonValue::Bool:
        return valor.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}

LectorBase64JSON::LectorBase64JSON(QByteArray miembro)
    : m_miembro(std::move(miembro))
{
}

void LectorBase64JSON::Crecer(qsizetype largo)
{
    // Grows as the document does (never ahead of what arrived), in doublings.
    const qsizetype antes = m_decodificado.capacity();
    m_decodificado.resize(largo);
    if (m_decodificado.capacity() != antes) {
        PreferirPaginasGrandes(m_decodificado.constData(), m_decodificado.capacity());
    }
}

void LectorBase64JSON::Abandonar()
{
    m_estado = Estado::Abandonado;
    m_decodificado = QByteArray();
    m_largoDecodificado = 0;
}

void LectorBase64JSON::DecodificarGrupo(const unsigned char* grupo)
{
    if (m_decodificado.size() < m_largoDecodificado + 3) {
        Crecer(m_largoDecodificado + 3);
    }
    const quint32 v = quint32(kValor[grupo[0]]) << 18 | quint32(kValor[grupo[1]]) << 12 |
                      quint32(kValor[grupo[2]]) << 6 | quint32(kValor[grupo[3]]);
    char* salida = m_decodificado.data() + m_largoDecodificado;
    salida[0] = static_cast<char>(v >> 16);
    salida[1] = static_cast<char>(v >> 8);
    salida[2] = static_cast<char>(v);
    m_largoDecodificado += 3;
    std::memcpy(m_ultimoGrupo, grupo, 4);
    m_hayUltimoGrupo = true;
}

const char* LectorBase64JSON::LeerDocumento(const char* base, const char* p, const char* fin)
{
    while (p < fin) {
        if (m_nPendiente == 0 && fin - p >= 4) {
            // Whole groups straight from the body: the bulk of a document.
            const qsizetype necesario = m_largoDecodificado + (fin - p) / 4 * 3;
            if (m_decodificado.size() < necesario) {
                Crecer(necesario);
            }
            auto* salida = reinterpret_cast<unsigned char*>(m_decodificado.data()) + m_largoDecodificado;
            const auto* q = reinterpret_cast<const unsigned char*>(p);
            const auto* const inicio = q;
            const auto* const ultimo = reinterpret_cast<const unsigned char*>(fin) - 4;
            while (q <= ultimo) {
                const quint32 a = kValor[q[0]];
                const quint32 b = kValor[q[1]];
                const quint32 c = kValor[q[2]];
                const quint32 d = kValor[q[3]];
                if ((a | b | c | d) & 0x80) {
                    break;
                }
                const quint32 v = a << 18 | b << 12 | c << 6 | d;
                salida[0] = static_cast<unsigned char>(v >> 16);
                salida[1] = static_cast<unsigned char>(v >> 8);
                salida[2] = static_cast<unsigned char>(v);
                salida += 3;
                q += 4;
            }
            if (q != inicio) {
                std::memcpy(m_ultimoGrupo, q - 4, 4);
                m_hayUltimoGrupo = true;
                m_largoDecodificado = salida - reinterpret_cast<unsigned char*>(m_decodificado.data());
                p = reinterpret_cast<const char*>(q);
                continue;
            }
        }
        // One character at a time: a group split between two arrivals, or the end of the text.
        const auto c = static_cast<unsigned char>(*p);
        if (kValor[c] < 64) {
            m_pendiente[m_nPendiente++] = c;
            if (m_nPendiente == 4) {
                DecodificarGrupo(m_pendiente);
                m_nPendiente = 0;
            }
            ++p;
        } else if (c == '=') {
            m_estado = Estado::Relleno;
            m_relleno = 1;
            return p + 1;
        } else if (c == '"') {
            CerrarDocumento(p - base);
            return p + 1;
        } else {
            // White space, an escape, anything else: only the full parser can judge it.
            Abandonar();
            return fin;
        }
    }
    return p;
}

void LectorBase64JSON::CerrarDocumento(qsizetype cierre)
{
    m_finDocumento = cierre;
    m_estado = Estado::Fuera;
    // What is left is judged by DecodificarBase64 itself: the characters of an unfinished group, or, when padding
    // follows whole groups, the last of them taken back. Either way it starts at a group boundary, as it did in
    // the whole text, so the verdict is the same.
    QByteArray cola;
    if (m_nPendiente > 0) {
        cola = QByteArray(reinterpret_cast<const char*>(m_pendiente), m_nPendiente);
    } else if (m_relleno > 0 && m_hayUltimoGrupo) {
        cola = QByteArray(reinterpret_cast<const char*>(m_ultimoGrupo), 4);
        m_largoDecodificado -= 3;
    }
    cola.append(m_relleno, '=');
    if (cola.isEmpty()) {
        m_documentoValido = m_hayUltimoGrupo;
    } else {
        QByteArray bytes;
        m_documentoValido = DecodificarBase64(cola, bytes);
        if (m_documentoValido) {
            m_decodificado.resize(m_largoDecodificado);
            m_decodificado.append(bytes);
            m_largoDecodificado = m_decodificado.size();
        }
    }
    if (!m_documentoValido) {
        m_decodificado = QByteArray();
        m_largoDecodificado = 0;
    }
}

void LectorBase64JSON::Avanzar(QByteArrayView recibido)
{
    if (m_estado == Estado::Abandonado) {
        return;
    }
    if (recibido.size() < m_leidos) {
        Abandonar();
        return;
    }
    const char* const base = recibido.data();
    const char* p = base + m_leidos;
    const char* const fin = base + recibido.size();
    while (p < fin && m_estado != Estado::Abandonado) {
        // The document is read in runs; every other state takes one character at a time.
        if (m_estado == Estado::Documento) {
            p = LeerDocumento(base, p, fin);
            continue;
        }
        const qsizetype posicion = p - base;
        const char c = *p++;
        switch (m_estado) {
        case Estado::Inicio:
            LeerInicio(c);
            break;
        case Estado::Fuera:
            if (m_profundidad == 1) {
                LeerEntreMiembros(c, posicion);
            } else {
                LeerAnidado(c);
            }
            break;
        case Estado::Clave:
            LeerClave(c);
            break;
        case Estado::Cadena:
            LeerCadena(c);
            break;
        case Estado::Relleno:
            LeerRelleno(c, posicion);
            break;
        case Estado::Documento:
        case Estado::Abandonado:
            break;
        }
    }
    m_leidos = recibido.size();
}

void LectorBase64JSON::LeerInicio(char c)
{
    if (c == '{') {
        m_profundidad = 1;
        m_esperaClave = true;
        m_estado = Estado::Fuera;
    } else if (!EsBlanco(c)) {
        Abandonar();
    }
}

void LectorBase64JSON::LeerEntreMiembros(char c, qsizetype posicion)
{
    if (c == '"') {
        if (m_esperaClave) {
            m_clave.clear();
            m_estado = Estado::Clave;
        } else if (m_esperaValor && m_claveEsMiembro) {
            m_inicioDocumento = posicion + 1;
            m_estado = Estado::Documento;
        } else {
            m_estado = Estado::Cadena;
        }
        m_esperaClave = false;
        m_esperaValor = false;
    } else if (c == ':') {
        m_esperaValor = true;
    } else if (c == ',') {
        m_esperaClave = true;
        m_esperaValor = false;
    } else if (!EsBlanco(c)) {
        m_esperaClave = false;
        m_esperaValor = false;
        LeerAnidado(c);
    }
}

void LectorBase64JSON::LeerAnidado(char c)
{
    // Nested values, and whatever follows the object, are left to the parser: only their strings and brackets
    // matter, to find where the top-level object goes on.
    if (c == '"') {
        m_estado = Estado::Cadena;
    } else if (c == '{' || c == '[') {
        ++m_profundidad;
    } else if (c == '}' || c == ']') {
        --m_profundidad;
    }
}

void LectorBase64JSON::LeerClave(char c)
{
    if (c == '"') {
        m_claveEsMiembro = m_clave == m_miembro;
        if (m_claveEsMiembro && m_visto) {
            Abandonar(); // the member twice: which one counts is the parser's rule
        } else {
            m_visto = m_visto || m_claveEsMiembro;
            m_estado = Estado::Fuera;
        }
    } else if (c == '\\') {
        Abandonar(); // an escaped key may spell the member
    } else if (m_clave.size() <= m_miembro.size()) {
        m_clave.append(c);
    }
}

void LectorBase64JSON::LeerCadena(char c)
{
    if (m_escape) {
        m_escape = false;
    } else if (c == '\\') {
        m_escape = true;
    } else if (c == '"') {
        m_estado = Estado::Fuera;
    }
}

void LectorBase64JSON::LeerRelleno(char c, qsizetype posicion)
{
    if (c == '=') {
        ++m_relleno;
    } else if (c == '"') {
        CerrarDocumento(posicion);
    } else {
        Abandonar();
    }
}

std::optional<QJsonObject> LectorBase64JSON::Terminar(QByteArray cuerpo)
{
    Avanzar(cuerpo);
    if (m_estado == Estado::Abandonado || m_finDocumento < 0) {
        m_decodificado = QByteArray();
        return ParsearJSON(cuerpo);
    }
    // The parser judges the body without the Base64 text, which is plain string content: the body is valid exactly
    // when this is, and the member reads as "".
    QByteArray reducido;
    reducido.reserve(cuerpo.size() - (m_finDocumento - m_inicioDocumento));
    reducido.append(QByteArrayView(cuerpo).first(m_inicioDocumento));
    reducido.append(QByteArrayView(cuerpo).sliced(m_finDocumento));
    cuerpo = QByteArray();
    std::optional<QJsonObject> objeto = ParsearJSON(reducido);
    if (!objeto) {
        m_decodificado = QByteArray();
        return std::nullopt;
    }
    m_adelantado = true;
    return objeto;
}

bool LectorBase64JSON::TomarBase64(const QJsonObject& objeto, QByteArray& bytes)
{
    if (m_adelantado) {
        if (!m_documentoValido) {
            return false;
        }
        m_decodificado.resize(m_largoDecodificado);
        bytes = std::move(m_decodificado);
        m_decodificado = QByteArray();
        return true;
    }
    return DecodificarBase64(LeerTexto(objeto, QString::fromUtf8(m_miembro)).toUtf8(), bytes);
}
