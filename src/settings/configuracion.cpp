#include "settings/configuracion.h"

#include "base/texto.h"
#include "settings/ini.h"

#include <QFile>
#include <limits>

bool ConvertirEntero(const QString& texto, qint64 minimo, qint64 maximo, qint64& valor)
{
    if (texto.isEmpty() || texto.size() > 20) {
        return false;
    }
    qsizetype i = 0;
    if (texto[0] == u'+' || texto[0] == u'-') {
        i = 1;
    }
    if (i == texto.size()) {
        return false;
    }
    for (qsizetype j = i; j < texto.size(); ++j) {
        if (texto[j] < u'0' || texto[j] > u'9') {
            return false;
        }
    }
    bool ok = false;
    const qint64 leido = texto.toLongLong(&ok, 10);
    if (!ok || leido < minimo || leido > maximo) {
        return false;
    }
    valor = leido;
    return true;
}

namespace {

QString MensajeValorInvalido(const QString& clave, const QString& valor)
{
    return QStringLiteral("El valor de %1 en config.ini no es un número entero válido: \"%2\"").arg(clave, valor);
}

} // namespace

bool LeerConfiguracion(const QString& ruta, Configuracion& cfg, QString& error)
{
    return LeerConfiguracion(QStringList{ruta}, cfg, error);
}

bool LeerConfiguracion(const QStringList& rutas, Configuracion& cfg, QString& error)
{
    // Each file is read once and every key looked up in the same texts.
    QStringList contenidos;
    for (const QString& ruta : rutas) {
        QFile archivo(ruta);
        if (archivo.open(QIODevice::ReadOnly)) {
            contenidos << DecodificarTexto(archivo.readAll());
        }
    }
    // A file without the key hands on the value found so far.
    const auto leer = [&](const QString& clave, const QString& porDefecto) {
        QString valor = porDefecto;
        for (const QString& contenido : contenidos) {
            valor = LeerINITexto(kSeccionConfiguracion, clave, valor, contenido);
        }
        return valor;
    };
    bool bien = true;
    const auto leerEntero = [&](const QString& clave, const QString& porDefecto, qint64 minimo, qint64 maximo,
                                auto& destino) {
        const QString texto = leer(clave, porDefecto);
        qint64 valor = 0;
        if (!ConvertirEntero(texto, minimo, maximo, valor)) {
            if (bien) {
                error = MensajeValorInvalido(clave, texto);
            }
            bien = false;
            return;
        }
        destino = static_cast<std::remove_reference_t<decltype(destino)>>(valor);
    };

    // Each key's default is the one the struct declares.
    const Configuracion d;
    cfg.Comportamiento = leer(QStringLiteral("Comportamiento"), d.Comportamiento);
    leerEntero(QStringLiteral("PortBalanza"), QString::number(d.PortBalanza), std::numeric_limits<qint16>::min(),
               std::numeric_limits<qint16>::max(), cfg.PortBalanza);
    cfg.ProtocoloBalanza = leer(QStringLiteral("ProtocoloBalanza"), d.ProtocoloBalanza);
    leerEntero(QStringLiteral("Intentos"), QString::number(d.Intentos), std::numeric_limits<qint32>::min(),
               std::numeric_limits<qint32>::max(), cfg.Intentos);
    cfg.MODE = leer(QStringLiteral("MODE"), d.MODE);

    leerEntero(QStringLiteral("PuertoHTTP"), QString::number(d.PuertoHTTP), 1, 65535, cfg.PuertoHTTP);
    cfg.DireccionEscucha = leer(QStringLiteral("DireccionEscucha"), d.DireccionEscucha);
    cfg.DominioWeb = leer(QStringLiteral("DominioWeb"), d.DominioWeb).toLower();
    cfg.DispositivoBalanza = leer(QStringLiteral("DispositivoBalanza"), d.DispositivoBalanza);
    leerEntero(QStringLiteral("PausaIntento"), QString::number(d.PausaIntento), 0, 60000, cfg.PausaIntento);
    leerEntero(QStringLiteral("IntervaloBalanza"), QString::number(d.IntervaloBalanza), 10, 60000,
               cfg.IntervaloBalanza);
    leerEntero(QStringLiteral("EstableMs"), QString::number(d.EstableMs), 0, 60000, cfg.EstableMs);
    leerEntero(QStringLiteral("EsperaEstable"), QString::number(d.EsperaEstable), 0, 600000, cfg.EsperaEstable);
    leerEntero(QStringLiteral("OyentesBalanza"), QString::number(d.OyentesBalanza), 0, 100, cfg.OyentesBalanza);
    cfg.CarpetaCSV = leer(QStringLiteral("CarpetaCSV"), d.CarpetaCSV);
    cfg.ProgramaQendra = leer(QStringLiteral("ProgramaQendra"), d.ProgramaQendra);
    return bien;
}
