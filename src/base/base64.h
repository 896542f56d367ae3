#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Bare standard Base64 (RFC 4648 alphabet, "=" padding optional). Anything else fails: white space, a data-URL
// prefix, characters outside the alphabet (any byte past ASCII included), a dangling single character, and the
// empty text (a request without content is a fault of the page, not an empty document).
bool DecodificarBase64(QByteArrayView texto, QByteArray& bytes);

// Base64 text decoded while it arrives, in pieces of any size, so that little is left to do when the last one comes.
// Fed a text made of Base64 characters and then "=" signs, Terminar judges it exactly as DecodificarBase64 judges the
// whole text.
class DecodificadorBase64 final
{
public:
    // Takes the Base64 characters at the start of `texto`, then the "=" signs that close it; stops at the first
    // character of any other kind, or at a character of the alphabet once padding has begun. Returns how many it took:
    // what stopped it is the caller's to judge.
    qsizetype Agregar(QByteArrayView texto);

    // The bytes of everything taken, or false (and `bytes` untouched) when that text is not valid Base64. Leaves the
    // decoder empty.
    bool Terminar(QByteArray& bytes);

private:
    void DecodificarGrupo(const unsigned char* grupo);
    void Crecer(qsizetype largo);

    QByteArray m_decodificado; // may run ahead of m_largo: room grown for what has arrived
    qsizetype m_largo = 0;
    unsigned char m_pendiente[4] = {}; // a group not yet complete
    int m_nPendiente = 0;
    unsigned char m_ultimoGrupo[4] = {}; // the last group decoded, taken back when padding follows it
    bool m_hayUltimoGrupo = false;
    int m_relleno = 0;
};
