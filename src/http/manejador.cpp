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

void ManejadorSolicitudes::Manejar(QByteArray datos, Enviar enviar, std::unique_ptr<LectorBase64JSON> lector) const
{
    SolicitudDecodificada partes = DecodificarSolicitud(std::move(datos));
    if (!partes.utf8) {
        lector.reset(); // it read the bytes, the endpoint gets their conversion
    }
    EscribirLog(ResumenSolicitud(partes.cabecera));

    if (!OrigenPermitido(partes.cabecera, m_cfg.MODE, m_cfg.DominioWeb)) {
        enviar(Respuesta403());
        EscribirLog(QStringLiteral("Origen denegado: ") +
                    Recortar(ObtenerHeader(partes.cabecera, QStringLiteral("Origin")), kLargoMaximoEnLog) +
                    QStringLiteral(" | MODE: ") + m_cfg.MODE);
        return;
    }
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
                    EscribirLog(QStringLiteral("Respuesta enviada: ") + cuerpo);
                }
            });
}
