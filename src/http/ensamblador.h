#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Gathers the bytes of one request as they arrive. Pure: no socket, no timer; the caller feeds bytes and reports
// the peer's end or a quiet spell, and acts on the state returned.
class EnsambladorSolicitud final
{
public:
    enum class Estado
    {
        Incompleta,      // wait for more bytes
        Completa,        // handle Datos() as one request
        DemasiadoGrande, // over the limit: refuse with 413
    };

    static constexpr qint64 kLimitePorDefecto = 64LL * 1024 * 1024;

    explicit EnsambladorSolicitud(qint64 limite = kLimitePorDefecto);

    Estado Agregar(const QByteArray& bytes);
    // The peer ended its side: whatever arrived is handled as it stands.
    Estado FinDelPar();
    // Nothing arrived for a while: a request whose head never completed (no blank line, LF-only lines) is handled
    // as it stands; one whose body is still short keeps waiting.
    Estado Silencio();

    bool CabeceraCompleta() const { return m_finCabecera >= 0; }
    // The head is complete, its body is still to come, and the client waits for "100 Continue" before sending it
    // (curl does so for large bodies).
    bool PideContinuar() const
    {
        return m_pideContinuar && CabeceraCompleta() &&
               static_cast<qint64>(m_datos.size()) - m_finCabecera < m_largoCuerpo;
    }
    // Once the head is complete: the head without its blank line, and the body so far.
    QByteArrayView Cabecera() const { return QByteArrayView(m_datos).first(m_finCabecera - 4); }
    QByteArrayView Cuerpo() const { return QByteArrayView(m_datos).sliced(m_finCabecera); }
    const QByteArray& Datos() const { return m_datos; }
    // Once the head is complete: the body length it declares (0 without one) and how much of it has arrived.
    qint64 LargoCuerpo() const { return m_largoCuerpo; }
    qint64 CuerpoRecibido() const { return CabeceraCompleta() ? m_datos.size() - m_finCabecera : 0; }
    QByteArray TomarDatos();
    void Reiniciar();

    // The value of Content-Length in a head (CR LF separated), or -1 when absent or not a plain decimal number.
    static qint64 LargoDeclarado(QByteArrayView cabecera);
    // The value of the first head line named `nombre` (lower case, colon included), blanks trimmed.
    static QByteArrayView ValorCabecera(QByteArrayView cabecera, QByteArrayView nombre);

private:
    Estado Evaluar();

    qint64 m_limite;
    QByteArray m_datos;
    qsizetype m_finCabecera = -1; // index just past CR LF CR LF
    qint64 m_largoCuerpo = 0;
    bool m_pideContinuar = false;
};
