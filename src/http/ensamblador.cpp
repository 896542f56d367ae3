#include "http/ensamblador.h"

#include "base/memoria.h"
#include "http/cabeceras.h"

#include <algorithm>
#include <limits>

EnsambladorSolicitud::EnsambladorSolicitud(qint64 limite)
    : m_limite(limite)
{
}

void EnsambladorSolicitud::Reiniciar()
{
    m_datos.clear();
    m_finCabecera = -1;
    m_largoCuerpo = 0;
    m_pideContinuar = false;
}

QByteArray EnsambladorSolicitud::TomarDatos()
{
    QByteArray datos = std::move(m_datos);
    Reiniciar();
    return datos;
}

QByteArrayView EnsambladorSolicitud::ValorCabecera(QByteArrayView cabecera, QByteArrayView nombre)
{
    const auto resto = detalle::RestoDeLinea(cabecera, nombre);
    return resto ? resto->trimmed() : QByteArrayView();
}

qint64 EnsambladorSolicitud::LargoDeclarado(QByteArrayView cabecera)
{
    const QByteArrayView valor = ValorCabecera(cabecera, "content-length:");
    if (valor.isEmpty() || valor.size() > 18) {
        return -1;
    }
    qint64 largo = 0;
    for (const char c : valor) {
        if (c < '0' || c > '9') {
            return -1;
        }
        largo = largo * 10 + (c - '0');
    }
    return largo;
}

EnsambladorSolicitud::Estado EnsambladorSolicitud::Agregar(const QByteArray& bytes)
{
    if (static_cast<qint64>(m_datos.size()) + bytes.size() > m_limite) {
        return Estado::DemasiadoGrande;
    }
    const qsizetype previo = m_datos.size();
    if (previo + bytes.size() > m_datos.capacity()) {
        // Grown as bytes arrive, never ahead of them on the head's word: a declared length costs nothing until the
        // body is really sent. Doubling through reserve lets the allocator move the pages rather than copy them,
        // which append alone would do.
        m_datos.reserve(std::max(2 * m_datos.capacity(), previo + bytes.size()));
        PreferirPaginasGrandes(m_datos.constData(), m_datos.capacity());
    }
    m_datos.append(bytes);
    if (m_finCabecera < 0) {
        // Only the new bytes (and the three before them) can complete the blank line.
        const qsizetype desde = previo >= 3 ? previo - 3 : 0;
        const qsizetype blanco = m_datos.indexOf("\r\n\r\n", desde);
        if (blanco < 0) {
            return Estado::Incompleta;
        }
        m_finCabecera = blanco + 4;
        const qint64 declarado = LargoDeclarado(QByteArrayView(m_datos).first(blanco));
        m_largoCuerpo = declarado < 0 ? 0 : declarado;
        m_pideContinuar = ValorCabecera(QByteArrayView(m_datos).first(blanco), "expect:")
                              .compare(QByteArrayView("100-continue"), Qt::CaseInsensitive) == 0;
        if (m_largoCuerpo > m_limite - m_finCabecera) {
            return Estado::DemasiadoGrande;
        }
    }
    return Evaluar();
}

EnsambladorSolicitud::Estado EnsambladorSolicitud::Evaluar()
{
    if (m_finCabecera < 0) {
        return Estado::Incompleta;
    }
    return static_cast<qint64>(m_datos.size()) - m_finCabecera >= m_largoCuerpo ? Estado::Completa : Estado::Incompleta;
}

EnsambladorSolicitud::Estado EnsambladorSolicitud::FinDelPar()
{
    return m_datos.isEmpty() ? Estado::Incompleta : Estado::Completa;
}

EnsambladorSolicitud::Estado EnsambladorSolicitud::Silencio()
{
    if (m_datos.isEmpty()) {
        return Estado::Incompleta;
    }
    return m_finCabecera < 0 ? Estado::Completa : Evaluar();
}
