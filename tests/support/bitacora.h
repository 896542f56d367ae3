#pragma once

#include "base/registro.h"

#include <QStringList>
#include <QTemporaryDir>

namespace soporte {

// Installs a log of its own for its lifetime and keeps every line written to it.
class Bitacora final
{
public:
    Bitacora();
    ~Bitacora();
    Bitacora(const Bitacora&) = delete;
    Bitacora& operator=(const Bitacora&) = delete;

    // The lines as written, time stamp included.
    const QStringList& Lineas() const { return m_lineas; }
    // The lines without their "[yyyy-MM-dd HH:mm:ss] " prefix.
    const QStringList& Mensajes() const { return m_mensajes; }
    void Limpiar();
    // Whether a message starts with `inicio`.
    bool Contiene(const QString& inicio) const;

private:
    QTemporaryDir m_carpeta;
    Registro m_registro;
    QStringList m_lineas;
    QStringList m_mensajes;
};

} // namespace soporte
