#pragma once

#include "base/registro.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

// Installs a log of its own for the lifetime of a test and keeps the messages written to it, without the time stamp.
class Bitacora final
{
public:
    Bitacora()
        : m_registro(m_carpeta.path())
    {
        InstalarRegistro(&m_registro);
        QObject::connect(&m_registro, &Registro::lineaEscrita, [this](const QString& linea) {
            // "[yyyy-MM-dd HH:mm:ss] " precedes every message.
            m_mensajes << linea.mid(22);
        });
    }
    ~Bitacora() { InstalarRegistro(nullptr); }
    Bitacora(const Bitacora&) = delete;
    Bitacora& operator=(const Bitacora&) = delete;

    const QStringList& Mensajes() const { return m_mensajes; }
    void Limpiar() { m_mensajes.clear(); }
    bool Contiene(const QString& inicio) const
    {
        for (const QString& mensaje : m_mensajes) {
            if (mensaje.startsWith(inicio)) {
                return true;
            }
        }
        return false;
    }

private:
    QTemporaryDir m_carpeta;
    Registro m_registro;
    QStringList m_mensajes;
};
