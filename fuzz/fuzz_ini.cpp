// The INI reader and the settings built on it. Input: the bytes of a config.ini.
#include "comun.h"

#include "base/texto.h"
#include "settings/configuracion.h"
#include "settings/ini.h"

#include <QFile>

#include <cstdint>
#include <limits>

namespace {

const QStringList kClaves{
    QStringLiteral("Comportamiento"),   QStringLiteral("PortBalanza"), QStringLiteral("ProtocoloBalanza"),
    QStringLiteral("Intentos"),         QStringLiteral("MODE"),        QStringLiteral("PuertoHTTP"),
    QStringLiteral("DireccionEscucha"), QStringLiteral("DominioWeb"),  QStringLiteral("DispositivoBalanza"),
    QStringLiteral("PausaIntento"),     QStringLiteral("CarpetaCSV"),  QStringLiteral("ProgramaQendra")};

const QString kPorDefecto = QStringLiteral("<por defecto>");
const QString kPorDefectoLargo = QString(300, u'd');

// A value read from the text is one line's piece of it, never longer than the reader's limit.
void ComprobarValor(const QString& valor, const QString& porDefecto, const QString& contenido, const QString& donde)
{
    FUZZ_COMPROBAR(valor.size() <= kLargoMaximoValorINI,
                   QStringLiteral("%1: a value of %2 characters").arg(donde).arg(valor.size()));
    if (valor == porDefecto.left(kLargoMaximoValorINI)) {
        return;
    }
    FUZZ_COMPROBAR(!valor.contains(u'\n'), donde + QStringLiteral(": a value across lines: ") + fuzz::Mostrar(valor));
    FUZZ_COMPROBAR(contenido.contains(valor),
                   donde + QStringLiteral(": a value that is not in the file: ") + fuzz::Mostrar(valor));
}

// The canonical decimal text of a whole number written with optional sign and leading zeros.
QString Canonico(const QString& texto)
{
    QString digitos = texto;
    bool negativo = false;
    if (digitos.startsWith(u'+') || digitos.startsWith(u'-')) {
        negativo = digitos.startsWith(u'-');
        digitos.remove(0, 1);
    }
    while (digitos.size() > 1 && digitos.startsWith(u'0')) {
        digitos.remove(0, 1);
    }
    return (negativo && digitos != QLatin1String("0") ? QStringLiteral("-") : QString()) + digitos;
}

void ComprobarEntero(const QString& texto, qint64 minimo, qint64 maximo)
{
    qint64 valor = 0;
    if (!ConvertirEntero(texto, minimo, maximo, valor)) {
        return;
    }
    FUZZ_COMPROBAR(
        valor >= minimo && valor <= maximo,
        QStringLiteral("%1 read as %2, outside [%3, %4]").arg(fuzz::Mostrar(texto)).arg(valor).arg(minimo).arg(maximo));
    FUZZ_COMPROBAR(QString::number(valor) == Canonico(texto),
                   QStringLiteral("%1 read as %2").arg(fuzz::Mostrar(texto)).arg(valor));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Preparar();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano)
{
    const QByteArray bytes(reinterpret_cast<const char*>(datos), qsizetype(tamano));
    const QString contenido = DecodificarTexto(bytes);

    // The known keys, then every name the file itself puts before a '=' or between brackets.
    QStringList secciones{kSeccionConfiguracion};
    QStringList claves = kClaves;
    const QStringList lineas = contenido.split(u'\n');
    for (qsizetype i = 0; i < lineas.size() && i < 16; ++i) {
        const QString& linea = lineas[i];
        const qsizetype igual = linea.indexOf(u'=');
        if (igual > 0) {
            claves << linea.left(igual);
        }
        const qsizetype abre = linea.indexOf(u'[');
        const qsizetype cierra = linea.indexOf(u']');
        if (abre >= 0 && cierra > abre) {
            secciones << linea.mid(abre + 1, cierra - abre - 1);
        }
    }
    for (const QString& seccion : secciones) {
        for (const QString& clave : claves) {
            const QString donde = fuzz::Mostrar(seccion, 40) + u'/' + fuzz::Mostrar(clave, 40);
            ComprobarValor(LeerINITexto(seccion, clave, kPorDefecto, contenido), kPorDefecto, contenido, donde);
            ComprobarValor(LeerINITexto(seccion, clave, kPorDefectoLargo, contenido), kPorDefectoLargo, contenido,
                           donde);
        }
    }

    // The whole configuration, read from a file as at start-up.
    const QString ruta = fuzz::CarpetaRaiz() + QStringLiteral("/config.ini");
    {
        QFile archivo(ruta);
        FUZZ_COMPROBAR(archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) && archivo.write(bytes) == bytes.size(),
                       QStringLiteral("cannot write the temporary config.ini"));
    }
    Configuracion cfg;
    QString error;
    const bool bien = LeerConfiguracion(ruta, cfg, error);
    FUZZ_COMPROBAR(bien == error.isEmpty(), QStringLiteral("result %1 with error \"%2\"").arg(bien).arg(error));
    if (!bien) {
        FUZZ_COMPROBAR(error.contains(QLatin1String("config.ini")),
                       QStringLiteral("an error that names no file: ") + error);
    }
    const auto leer = [&](const QString& clave, const QString& porDefecto) {
        return LeerINITexto(kSeccionConfiguracion, clave, porDefecto, contenido);
    };
    FUZZ_COMPROBAR(cfg.Comportamiento == leer(QStringLiteral("Comportamiento"), QStringLiteral("NORMAL")),
                   QStringLiteral("Comportamiento differs between the file and the text"));
    FUZZ_COMPROBAR(cfg.MODE == leer(QStringLiteral("MODE"), QStringLiteral("PRO")),
                   QStringLiteral("MODE differs between the file and the text"));
    FUZZ_COMPROBAR(cfg.ProtocoloBalanza == leer(QStringLiteral("ProtocoloBalanza"), QStringLiteral("Systel1")),
                   QStringLiteral("ProtocoloBalanza differs between the file and the text"));
    FUZZ_COMPROBAR(cfg.DominioWeb == leer(QStringLiteral("DominioWeb"), QStringLiteral("tornavo.com")).toLower(),
                   QStringLiteral("DominioWeb differs between the file and the text"));
    for (const QString* texto : {&cfg.Comportamiento, &cfg.ProtocoloBalanza, &cfg.MODE, &cfg.DireccionEscucha,
                                 &cfg.DominioWeb, &cfg.DispositivoBalanza, &cfg.CarpetaCSV, &cfg.ProgramaQendra}) {
        FUZZ_COMPROBAR(texto->size() <= kLargoMaximoValorINI,
                       QStringLiteral("a setting of %1 characters").arg(texto->size()));
    }
    FUZZ_COMPROBAR(cfg.PuertoHTTP >= 1, QStringLiteral("PuertoHTTP 0"));
    FUZZ_COMPROBAR(cfg.PausaIntento >= 0 && cfg.PausaIntento <= 60000,
                   QStringLiteral("PausaIntento %1").arg(cfg.PausaIntento));
    FUZZ_COMPROBAR(LeerINI(kSeccionConfiguracion, QStringLiteral("MODE"), QStringLiteral("PRO"), ruta) == cfg.MODE,
                   QStringLiteral("LeerINI and LeerConfiguracion disagree on MODE"));

    // The number reader on every value the file holds.
    for (const QString& clave : kClaves) {
        const QString valor = leer(clave, QString());
        ComprobarEntero(valor, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
        ComprobarEntero(valor, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
        ComprobarEntero(valor, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
        ComprobarEntero(valor, 1, 65535);
    }
    return 0;
}
