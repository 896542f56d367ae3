#include "http/manejador.h"

#include "base/registro.h"
#include "base/texto.h"
#include "http/ensamblador.h"
#include "http/protocolo.h"

ManejadorSolicitudes::ManejadorSolicitudes(const Configuracion& cfg, Endpoints endpoints, Reloj reloj)
    : m_cfg(cfg)
    , m_endpoints(std::move(endpoints))
    , m_reloj(std::move(reloj))
{
    m_resumen.setSingleShot(true);
    QObject::connect(&m_resumen, &QTimer::timeout, [this] {
        if (ResumirRechazos(m_reloj() / 1000)) {
            m_resumen.start(1000);
        }
    });
}

bool ManejadorSolicitudes::ResumirRechazos(qint64 segundo) const
{
    bool pendientes = false;
    for (auto it = m_rechazos.begin(); it != m_rechazos.end();) {
        if (it->segundo < segundo) {
            if (it->omitidas > 0) {
                EscribirLog(QStringLiteral("... %1 solicitudes más rechazadas de ").arg(it->omitidas) + it.key());
            }
            it = m_rechazos.erase(it);
        } else {
            pendientes = pendientes || it->omitidas > 0;
            ++it;
        }
    }
    return pendientes;
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
    const QString origen = ParaLog(ValorCabecera(cabecera, QStringLiteral("Origin")));
    const qint64 segundo = m_reloj() / 1000;
    ResumirRechazos(segundo);
    Rechazos& rechazos = m_rechazos[origen];
    if (rechazos.segundo != segundo) {
        rechazos = Rechazos{segundo, 0, 0};
    }
    // A page left open firing requests must not fill the disk; a sane rate keeps every line.
    if (++rechazos.vistas > kRechazosPorSegundo) {
        ++rechazos.omitidas;
        enviar(Respuesta403());
        if (!m_resumen.isActive()) {
            m_resumen.start(1000);
        }
        return;
    }
    EscribirLog(ResumenSolicitud(cabecera));
    enviar(Respuesta403());
    EscribirLog(QStringLiteral("Origen denegado: ") + origen + QStringLiteral(" | MODE: ") + m_cfg.MODE);
}

void ManejadorSolicitudes::Manejar(QByteArray datos, Enviar enviar, std::unique_ptr<LectorBase64JSON> lector,
                                   const AbrirFlujo& abrirFlujo) const
{
    // Judged on the head's own bytes, as when only the head has arrived: what the body holds must not change the
    // verdict (a body that is not UTF-8 changes how the whole request is read).
    const qsizetype blanco = datos.indexOf("\r\n\r\n");
    if (RechazarAjeno(blanco < 0 ? QByteArrayView(datos) : QByteArrayView(datos).first(blanco), enviar)) {
        return;
    }
    SolicitudDecodificada partes = DecodificarSolicitud(std::move(datos));
    if (!partes.utf8) {
        lector.reset(); // it read the bytes, the endpoint gets their conversion
    }
    EscribirLog(ResumenSolicitud(partes.cabecera));
    if (partes.cabecera.startsWith(QLatin1String("OPTIONS"))) {
        const bool redPrivada = ValorCabecera(partes.cabecera, QStringLiteral("Access-Control-Request-Private-Network"))
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
    if (abrirFlujo && EsFlujoBalanza(m_endpoints, linea.metodo, linea.ruta)) {
        abrirFlujo();
        return;
    }
    Enrutar(m_endpoints, linea.metodo, linea.ruta, std::move(partes.cuerpo), std::move(lector),
            [enviar](const QString& cuerpo) {
                if (enviar(Respuesta200(cuerpo))) {
                    EscribirLog(QStringLiteral("Respuesta enviada: ") + ParaLog(cuerpo, kLargoMaximoRespuestaEnLog));
                }
            });
}
