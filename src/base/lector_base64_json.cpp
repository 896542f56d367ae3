#include "base/lector_base64_json.h"

namespace {

bool EsBlanco(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

LectorBase64JSON::LectorBase64JSON(QByteArray miembro)
    : m_miembro(std::move(miembro))
{
}

void LectorBase64JSON::Abandonar()
{
    m_estado = Estado::Abandonado;
    m_decodificador = DecodificadorBase64();
    m_documento = QByteArray();
}

const char* LectorBase64JSON::LeerDocumento(const char* base, const char* p, const char* fin)
{
    p += m_decodificador.Agregar(QByteArrayView(p, fin));
    if (p == fin) {
        return p;
    }
    if (*p == '"') {
        CerrarDocumento(p - base);
        return p + 1;
    }
    // White space, an escape, anything else: only the full parser can judge it.
    Abandonar();
    return fin;
}

void LectorBase64JSON::CerrarDocumento(qsizetype cierre)
{
    m_finDocumento = cierre;
    m_estado = Estado::Fuera;
    m_documentoValido = m_decodificador.Terminar(m_documento);
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

std::optional<QJsonObject> LectorBase64JSON::Terminar(QByteArray cuerpo)
{
    Avanzar(cuerpo);
    if (m_estado == Estado::Abandonado || m_finDocumento < 0) {
        m_decodificador = DecodificadorBase64();
        m_documento = QByteArray();
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
        m_documento = QByteArray();
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
        bytes = std::move(m_documento);
        m_documento = QByteArray();
        return true;
    }
    return DecodificarBase64(LeerTexto(objeto, QString::fromUtf8(m_miembro)).toUtf8(), bytes);
}
