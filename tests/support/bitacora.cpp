#include "support/bitacora.h"

namespace soporte {

Bitacora::Bitacora()
    : m_registro(m_carpeta.path(), RelojDelSistema())
{
    InstalarRegistro(&m_registro);
    QObject::connect(&m_registro, &Registro::lineaEscrita, [this](const QString& linea) {
        m_lineas << linea;
        m_mensajes << linea.mid(22);
    });
}

Bitacora::~Bitacora()
{
    InstalarRegistro(nullptr);
}

void Bitacora::Limpiar()
{
    m_lineas.clear();
    m_mensajes.clear();
}

bool Bitacora::Contiene(const QString& inicio) const
{
    for (const QString& mensaje : m_mensajes) {
        if (mensaje.startsWith(inicio)) {
            return true;
        }
    }
    return false;
}

} // namespace soporte
