#include "http/protocolo.h"

#include "base/texto.h"
#include "http/cabeceras.h"

#include <QStringDecoder>
#include <QStringView>
#include <QUrl>

namespace {

QByteArray Enmarcar(QByteArrayView estado, const QString& cuerpo)
{
    const QByteArray bytes = cuerpo.toUtf8();
    QByteArray respuesta;
    respuesta.reserve(bytes.size() + 128);
    respuesta += estado;
    respuesta += "\r\nContent-Type: application/json\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: ";
    respuesta += QByteArray::number(bytes.size());
    respuesta += "\r\n\r\n";
    respuesta += bytes;
    return respuesta;
}

// A page address reduced to its scheme and authority. Only the host decides, and real pages put characters in their
// paths and queries ("|", "{}") that a strict URL parse refuses; the authority itself is still parsed strictly.
QString SinRutaNiConsulta(const QString& direccion)
{
    const qsizetype esquema = direccion.indexOf(QLatin1String("://"));
    if (esquema < 0) {
        return direccion;
    }
    qsizetype fin = esquema + 3;
    while (fin < direccion.size() && direccion[fin] != u'/' && direccion[fin] != u'?' && direccion[fin] != u'#') {
        ++fin;
    }
    return direccion.left(fin);
}

} // namespace

QString ResumenSolicitud(const QString& texto)
{
    const qsizetype fin = texto.indexOf(QLatin1String("\r\n"));
    const QStringView primera = fin < 0 ? QStringView(texto) : QStringView(texto).left(fin);
    return QStringLiteral("Solicitud recibida: ") + ParaLog(SinEspacios(primera).toString());
}

SolicitudDecodificada DecodificarSolicitud(QByteArray bytes)
{
    const qsizetype blanco = bytes.indexOf("\r\n\r\n");
    const QByteArrayView cabeza = blanco < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(blanco);
    SolicitudDecodificada partes;
    partes.utf8 = bytes.isValidUtf8();
    if (partes.utf8) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        partes.cabecera = utf8.decode(cabeza);
    } else {
        partes.cabecera = DecodificarWindows1252(cabeza.toByteArray());
    }
    if (blanco < 0) {
        return partes;
    }
    // Dropping the head from the front moves no bytes.
    bytes.remove(0, blanco + 4);
    partes.cuerpo = partes.utf8 ? std::move(bytes) : DecodificarWindows1252(bytes).toUtf8();
    return partes;
}

QString ValorCabecera(const QString& cabecera, const QString& nombre)
{
    const auto resto = detalle::RestoDeLinea(QStringView(cabecera), QStringView(nombre));
    if (!resto) {
        return QString();
    }
    // The character after the name is skipped unseen, whatever it is.
    return SinEspacios(resto->isEmpty() ? QStringView() : resto->sliced(1)).toString();
}

bool UrlPermitida(const QString& valor, bool dev, const QString& dominio)
{
    if (valor.isEmpty()) {
        return false;
    }
    const QUrl url(valor, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        return false;
    }
    const QString host = url.host();
    if (dev && host == QLatin1String("localhost")) {
        return true;
    }
    return !dominio.isEmpty() && host.size() > dominio.size() + 1 && host.endsWith(dominio) &&
           host[host.size() - dominio.size() - 1] == u'.';
}

bool OrigenPermitido(const QString& cabecera, const QString& modo, const QString& dominio)
{
    const bool dev = modo == QLatin1String("DEV");
    return UrlPermitida(ValorCabecera(cabecera, QStringLiteral("Origin")).toLower(), dev, dominio) ||
           UrlPermitida(SinRutaNiConsulta(ValorCabecera(cabecera, QStringLiteral("Referer")).toLower()), dev, dominio);
}

bool AnalizarLineaSolicitud(const QString& cabecera, LineaSolicitud& linea, QString& error)
{
    const qsizetype fin = cabecera.indexOf(QLatin1String("\r\n"));
    const QStringView primera = fin < 0 ? QStringView(cabecera) : QStringView(cabecera).left(fin);
    const qsizetype s1 = primera.indexOf(u' ');
    const qsizetype s2 = s1 < 0 ? -1 : primera.indexOf(u' ', s1 + 1);
    if (s2 < 0) {
        error = QStringLiteral("Línea de solicitud mal formada: \"%1\"").arg(ParaLog(primera.toString(), 200));
        return false;
    }
    linea.metodo = primera.left(s1).toString().toUpper();
    linea.ruta = primera.sliced(s1 + 1, s2 - s1 - 1).toString();
    if (linea.ruta.endsWith(u'/')) {
        linea.ruta.chop(1);
    }
    return true;
}

QByteArray Respuesta200(const QString& cuerpo)
{
    return Enmarcar("HTTP/1.1 200 OK", cuerpo);
}

QByteArray Respuesta403()
{
    static const QByteArray respuesta = Enmarcar("HTTP/1.1 403 Forbidden", kCuerpo403);
    return respuesta;
}

QByteArray Respuesta413()
{
    static const QByteArray respuesta = Enmarcar("HTTP/1.1 413 Payload Too Large", kCuerpo413);
    return respuesta;
}

QByteArray Respuesta503(const QString& cuerpo)
{
    return Enmarcar("HTTP/1.1 503 Service Unavailable", cuerpo);
}

QByteArray CabeceraFlujo(int reintentoMs)
{
    return QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
                             "Content-Type: text/event-stream\r\n"
                             "Cache-Control: no-cache\r\n"
                             "Access-Control-Allow-Origin: *\r\n"
                             "Connection: keep-alive\r\n"
                             "\r\n"
                             "retry: ") +
           QByteArray::number(reintentoMs) + "\n\n";
}

QByteArray EventoFlujo(const QString& datos)
{
    QByteArray evento;
    // A line break inside the document would end the event early; each line goes as its own data line.
    for (const QByteArray& linea : datos.toUtf8().replace("\r\n", "\n").replace('\r', '\n').split('\n')) {
        evento += "data: " + linea + '\n';
    }
    evento += '\n';
    return evento;
}

QByteArray Respuesta204(bool redPrivada)
{
    QByteArray respuesta("HTTP/1.1 204 No Content\r\n"
                         "Access-Control-Allow-Origin: *\r\n"
                         "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
                         "Access-Control-Allow-Headers: Content-Type\r\n"
                         "Access-Control-Max-Age: 86400\r\n");
    if (redPrivada) {
        // Chrome's Private Network Access preflight asks for this before it lets a page reach localhost.
        respuesta += "Access-Control-Allow-Private-Network: true\r\n";
    }
    respuesta += "\r\n";
    return respuesta;
}
