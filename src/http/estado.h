#pragma once

#include "base/reloj.h"
#include "settings/configuracion.h"

#include <QDateTime>
#include <QString>

#include <functional>

// "Nd hh:mm:ss" with truncating division, so a clock set back gives negative parts rather than garbage.
QString FormatearUptime(qint32 segundos);

// The GET /status document. The uptime counts from the first status request.
class DocumentoEstado final
{
public:
    using Puerto = std::function<quint16()>;

    DocumentoEstado(const Configuracion& cfg, Puerto puerto, Reloj reloj);

    QString ObtenerEstado();

private:
    const Configuracion& m_cfg;
    Puerto m_puerto;
    Reloj m_reloj;
    QDateTime m_horaInicio;
};
