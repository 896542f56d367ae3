#pragma once

#include "base/base64.h"
#include "base/json.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>

#include <optional>

// Reads a JSON body whose object carries a document as Base64 text in one member, and decodes that text on the way:
// fed while the body is still arriving, most of the work is done by the time the last byte comes. The outcome is
// exactly that of ParsearJSON, LeerTexto and DecodificarBase64 one after the other. Whenever the body strays from
// the plain case (the member not a plain Base64 string of the top-level object, a key written with escapes, the
// member twice), the reader stops early and Terminar falls back to that sequence.
class LectorBase64JSON final
{
public:
    explicit LectorBase64JSON(QByteArray miembro);

    // `recibido` is the body so far: the same bytes as in earlier calls, plus those that arrived since.
    void Avanzar(QByteArrayView recibido);

    // The whole body, of which the earlier calls saw a beginning. Gives the JSON object, in which the member decoded
    // on the way reads as empty text: take it with TomarBase64.
    std::optional<QJsonObject> Terminar(QByteArray cuerpo);

    // The member's document: decoded on the way, or now from `objeto`. False when it is not valid Base64.
    bool TomarBase64(const QJsonObject& objeto, QByteArray& bytes);

    // Test hooks: answers are the same either way, so only these show that a large document was read while it
    // arrived (and not parsed again at the end), which is what keeps a 20 MB print fast.
    // Terminar took the document decoded on the way rather than parsing the whole body.
    bool DecodificadoAlVuelo() const { return m_adelantado; }
    // How much of the body has been read so far.
    qsizetype Leidos() const { return m_leidos; }

private:
    enum class Estado
    {
        Inicio,     // before the top-level "{"
        Fuera,      // between tokens
        Clave,      // in a key of the top-level object
        Cadena,     // in any other string
        Documento,  // in the member's Base64 text, its closing "=" signs included
        Abandonado, // the body is not the plain case: Terminar parses it whole
    };

    // One per state: each reads the next character of the body.
    void LeerInicio(char c);
    void LeerEntreMiembros(char c, qsizetype posicion);
    void LeerAnidado(char c);
    void LeerClave(char c);
    void LeerCadena(char c);
    const char* LeerDocumento(const char* base, const char* p, const char* fin);

    void Abandonar();
    void CerrarDocumento(qsizetype cierre);

    QByteArray m_miembro;
    Estado m_estado = Estado::Inicio;
    qsizetype m_leidos = 0;
    int m_profundidad = 0;
    bool m_esperaClave = false;
    bool m_esperaValor = false;
    bool m_escape = false;
    QByteArray m_clave; // the last key of the top-level object, raw
    bool m_claveEsMiembro = false;
    bool m_visto = false; // the member's value has begun

    // The member's text: where it lies in the body, and its bytes.
    qsizetype m_inicioDocumento = -1;
    qsizetype m_finDocumento = -1;
    DecodificadorBase64 m_decodificador;
    QByteArray m_documento;
    bool m_documentoValido = false;
    bool m_adelantado = false; // Terminar used the decoded document
};
