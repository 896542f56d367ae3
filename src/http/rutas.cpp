#include "http/rutas.h"

namespace {

const QString kPrefijoTrabajos = QStringLiteral("/trabajos/");

bool EsImprimir(const Endpoints& endpoints, const QString& metodo, const QString& ruta)
{
    return metodo == QLatin1String("POST") && ruta == QLatin1String("/print-base64") && endpoints.imprimir;
}

} // namespace

bool EsFlujoBalanza(const Endpoints& endpoints, const QString& metodo, const QString& ruta)
{
    return metodo == QLatin1String("GET") && ruta == QLatin1String("/balanza/eventos") && endpoints.suscribirBalanza &&
           endpoints.desuscribirBalanza;
}

std::unique_ptr<LectorBase64JSON> LectorAnticipado(const Endpoints& endpoints, const QString& metodo,
                                                   const QString& ruta)
{
    if (!EsImprimir(endpoints, metodo, ruta)) {
        return nullptr;
    }
    return std::make_unique<LectorBase64JSON>(QByteArrayLiteral("base64"));
}

void Enrutar(const Endpoints& endpoints, const QString& metodo, const QString& ruta, QByteArray cuerpo,
             std::unique_ptr<LectorBase64JSON> lector, const Responder& responder)
{
    if (metodo == QLatin1String("GET")) {
        if (ruta == QLatin1String("/status") && endpoints.estado) {
            responder(endpoints.estado());
        } else if (ruta == QLatin1String("/impresoras") && endpoints.impresoras) {
            responder(endpoints.impresoras());
        } else if (ruta == QLatin1String("/pesoBalanza") && endpoints.peso) {
            endpoints.peso(responder);
        } else if (ruta == QLatin1String("/balanza") && endpoints.balanza) {
            endpoints.balanza(responder);
        } else if (ruta == QLatin1String("/balanza/estable") && endpoints.balanzaEstable) {
            endpoints.balanzaEstable(responder);
        } else if (ruta == QLatin1String("/puertos") && endpoints.puertos) {
            responder(endpoints.puertos());
        } else if (ruta == QLatin1String("/impresoras/detalle") && endpoints.detalleImpresoras) {
            endpoints.detalleImpresoras(responder);
        } else if (ruta.startsWith(kPrefijoTrabajos) && ruta.size() > kPrefijoTrabajos.size() && endpoints.trabajo) {
            endpoints.trabajo(ruta.mid(kPrefijoTrabajos.size()), responder);
        } else {
            responder(kRutaNoValida);
        }
    } else if (EsImprimir(endpoints, metodo, ruta)) {
        endpoints.imprimir(std::move(cuerpo), std::move(lector), responder);
    } else if (metodo == QLatin1String("POST") && ruta == QLatin1String("/csv-base64") && endpoints.csv) {
        responder(endpoints.csv(std::move(cuerpo)));
    } else if (metodo == QLatin1String("POST") && ruta == QLatin1String("/print-raw") && endpoints.imprimirDirecto) {
        endpoints.imprimirDirecto(std::move(cuerpo), responder);
    } else {
        responder(kMetodoORutaNoValida);
    }
}
