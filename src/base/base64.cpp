#include "base/base64.h"

#include "base/memoria.h"

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

} // namespace

bool DecodificarBase64(QByteArrayView texto, QByteArray& bytes)
{
    if (texto.isEmpty()) {
        return false;
    }
    for (const char c : texto) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return false;
        }
    }
    qsizetype datos = texto.size();
    while (datos > 0 && texto[datos - 1] == '=') {
        --datos;
    }
    // One character of a four-character group carries only six bits: no byte can come from it.
    if (datos % 4 == 1) {
        return false;
    }
    // Read where it lies, without a copy (a const array: the decoder never writes into it).
    const QByteArray ascii = QByteArray::fromRawData(texto.data(), texto.size());
    auto resultado = QByteArray::fromBase64Encoding(ascii, QByteArray::AbortOnBase64DecodingErrors);
    if (resultado.decodingStatus != QByteArray::Base64DecodingStatus::Ok) {
        return false;
    }
    bytes = std::move(resultado.decoded);
    return true;
}

void DecodificadorBase64::Crecer(qsizetype largo)
{
    // Grows as the text does (never ahead of what arrived), in doublings.
    const qsizetype antes = m_decodificado.capacity();
    m_decodificado.resize(largo);
    if (m_decodificado.capacity() != antes) {
        PreferirPaginasGrandes(m_decodificado.constData(), m_decodificado.capacity());
    }
}

void DecodificadorBase64::DecodificarGrupo(const unsigned char* grupo)
{
    if (m_decodificado.size() < m_largo + 3) {
        Crecer(m_largo + 3);
    }
    const quint32 v = quint32(kValor[grupo[0]]) << 18 | quint32(kValor[grupo[1]]) << 12 |
                      quint32(kValor[grupo[2]]) << 6 | quint32(kValor[grupo[3]]);
    char* salida = m_decodificado.data() + m_largo;
    salida[0] = static_cast<char>(v >> 16);
    salida[1] = static_cast<char>(v >> 8);
    salida[2] = static_cast<char>(v);
    m_largo += 3;
    std::memcpy(m_ultimoGrupo, grupo, 4);
    m_hayUltimoGrupo = true;
}

qsizetype DecodificadorBase64::Agregar(QByteArrayView texto)
{
    const char* const inicio = texto.data();
    const char* p = inicio;
    const char* const fin = inicio + texto.size();
    while (p < fin) {
        if (m_relleno > 0) {
            if (*p != '=') {
                break;
            }
            ++m_relleno;
            ++p;
            continue;
        }
        if (m_nPendiente == 0 && fin - p >= 4) {
            // Whole groups straight from the text: the bulk of a document.
            const qsizetype necesario = m_largo + (fin - p) / 4 * 3;
            if (m_decodificado.size() < necesario) {
                Crecer(necesario);
            }
            auto* salida = reinterpret_cast<unsigned char*>(m_decodificado.data()) + m_largo;
            const auto* q = reinterpret_cast<const unsigned char*>(p);
            const auto* const primero = q;
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
            if (q != primero) {
                std::memcpy(m_ultimoGrupo, q - 4, 4);
                m_hayUltimoGrupo = true;
                m_largo = salida - reinterpret_cast<unsigned char*>(m_decodificado.data());
                p = reinterpret_cast<const char*>(q);
                continue;
            }
        }
        // One character at a time: a group split between two pieces, or the end of the text.
        const auto c = static_cast<unsigned char>(*p);
        if (kValor[c] < 64) {
            m_pendiente[m_nPendiente++] = c;
            if (m_nPendiente == 4) {
                DecodificarGrupo(m_pendiente);
                m_nPendiente = 0;
            }
        } else if (c == '=') {
            m_relleno = 1;
        } else {
            break;
        }
        ++p;
    }
    return p - inicio;
}

bool DecodificadorBase64::Terminar(QByteArray& bytes)
{
    // What is left is judged by DecodificarBase64 itself: the characters of an unfinished group, or, when padding
    // follows whole groups, the last of them taken back. Either way it starts at a group boundary, as it did in the
    // whole text, so the verdict is the same.
    QByteArray cola;
    if (m_nPendiente > 0) {
        cola = QByteArray(reinterpret_cast<const char*>(m_pendiente), m_nPendiente);
    } else if (m_relleno > 0 && m_hayUltimoGrupo) {
        cola = QByteArray(reinterpret_cast<const char*>(m_ultimoGrupo), 4);
        m_largo -= 3;
    }
    cola.append(m_relleno, '=');
    bool valido = m_hayUltimoGrupo;
    QByteArray resto;
    if (!cola.isEmpty()) {
        valido = DecodificarBase64(cola, resto);
    }
    if (valido) {
        m_decodificado.resize(m_largo);
        m_decodificado.append(resto);
        bytes = std::move(m_decodificado);
    }
    *this = DecodificadorBase64();
    return valido;
}
