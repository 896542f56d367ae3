#include "http/manejador.h"

#include "base/registro.h"
#include "base/texto.h"
#include "http/ensamblador.h"
#include "http/protocolo.h"

ManejadorSolicitudes::ManejadorSolicitudes(const Configuracion& cfg, Endpoints endpoints)
    : m_cfg(cfg)
    , m_endpoints(std::move(endpoints))
{
}

std::unique_ptr<LectorBase64JSON> ManejadorSolicitudes::LectorPara(QByteArrayView cabecera) const
{
    const QString texto = DecodificarTexto(cabecera.toByteArray());
    LineaSolicitud linea;
    QString error;
    if (!OrigenPermitido(texto, m_cfg.MODE, m_cfg.DominioWeb) || texto.startsWith(QLatin1String("OPTIONS")) ||
        !AnalizarLineaSolicitud(texto, linea, error)) {
        return nullptr;
    }
    return LectorAnticipado(m_endpoints, linea.metodo, linea.ruta);
}

bool ManejadorSolicitudes::RechazarAjeno(QByteArrayView cabecera, const Enviar& enviar) const
{
    const QString texto = DecodificarTexto(cabecera.toByteArray());
    if (OrigenPermitido(texto, m_cfg.MODE, m_cfg.DominioWeb)) {
        return false;
    }
    Rechazar(texto, enviar);
    return true;
}

void ManejadorSolicitudes::Rechazar(const QString& cabecera, const Enviar& enviar) const
{
    EscribirLog(ResumenSolicitud(cabecera));
    enviar(Respuesta403());
    EscribirLog(QStringLiteral("Origen denegado: ") + ParaLog(ObtenerHeader(cabecera, QStringLiteral("Origin"))) +
                QStringLiteral(" | MODE: ") + m_cfg.MODE);
}

void ManejadorSolicitudes::Manejar(QByteArray datos, Enviar enviar, std::unique_ptr<LectorBase64JSON> lector) const
{
    SolicitudDecodificada partes = DecodificarSolicitud(std::move(datos));
    if (!partes.utf8) {
        lector.reset(); // it read the bytes, the endpoint gets their conversion
    }
    if (!OrigenPermitido(partes.cabecera, m_cfg.MODE, m_cfg.DominioWeb)) {
        Rechazar(partes.cabecera, enviar);
        return;
    }
    EscribirLog(ResumenSolicitud(partes.cabecera));
    if (partes.cabecera.startsWith(QLatin1String("OPTIONS"))) {
        const bool redPrivada = ObtenerHeader(partes.cabecera, QStringLiteral("Access-Control-Request-Private-Network"))
                                    .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
        enviar(Respuesta204(redPrivada));
        return;
    }
    LineaSolicitud linea;
    QString error;
    if (!AnalizarLineaSolicitud(partes.cabecera, linea, error)) {
        EscribirLog(QStringLiteral("? Error: ") + error);
        enviar(QByteArray());
        return;
    }
    Enrutar(m_endpoints, linea.metodo, linea.ruta, std::move(partes.cuerpo), std::move(lector),
            [enviar](const QString& cuerpo) {
                if (enviar(Respuesta200(cuerpo))) {
                    EscribirLog(QStringLiteral("Respuesta enviada: ") + ParaLog(cuerpo, kLargoMaximoRespuestaEnLog));
                }
            });
}
