#include "rutas.h"

void Enrutar(const Endpoints& endpoints, const QString& metodo, const QString& ruta, QString cuerpo,
             const Endpoints::Responder& responder)
{
    if (metodo == QLatin1String("GET")) {
        if (ruta == QLatin1String("/status") && endpoints.estado) {
            responder(endpoints.estado());
        } else if (ruta == QLatin1String("/impresoras") && endpoints.impresoras) {
            responder(endpoints.impresoras());
        } else if (ruta == QLatin1String("/pesoBalanza") && endpoints.peso) {
            endpoints.peso(responder);
        } else {
            responder(kRutaNoValida);
        }
    } else if (metodo == QLatin1String("POST") && ruta == QLatin1String("/print-base64") && endpoints.imprimir) {
        endpoints.imprimir(std::move(cuerpo), responder);
    } else if (metodo == QLatin1String("POST") && ruta == QLatin1String("/csv-base64") && endpoints.csv) {
        responder(endpoints.csv(std::move(cuerpo)));
    } else {
        responder(kMetodoORutaNoValida);
    }
}
