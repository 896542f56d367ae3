// The checks on POST bodies: the JSON body, the Base64 decoder and file writer, the file-name check, and the JSON
// escaping of texts that go back to the page. Input: a request body.
#include "comun.h"

#include "base/archivos.h"
#include "base/base64.h"
#include "base/json.h"
#include "base/lector_base64_json.h"
#include "base/texto.h"
#include "handoff/entrega_csv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cstdint>

namespace {

// What both endpoints do with a document: decode it, then save it, nothing written when either fails.
bool DecodificarYGuardar(QByteArrayView texto, const QString& ruta)
{
    QByteArray bytes;
    return DecodificarBase64(texto, bytes) && GuardarBytes(bytes, ruta);
}

bool EsAlfabetoBase64(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

QByteArray LeerArchivo(const QString& ruta)
{
    QFile archivo(ruta);
    return archivo.open(QIODevice::ReadOnly) ? archivo.readAll() : QByteArray("<no se puede leer>");
}

QStringList Entradas(const QString& carpeta)
{
    return QDir(carpeta).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void ComprobarBase64(const QString& texto, const QString& carpeta)
{
    QByteArray bytes;
    const bool valido = DecodificarBase64(texto.toUtf8(), bytes);
    const QString ruta = carpeta + QStringLiteral("/documento.bin");

    // A failed write leaves the earlier file as it was; a good one leaves exactly the decoded bytes.
    const QByteArray anterior = "contenido anterior";
    {
        QFile archivo(ruta);
        FUZZ_COMPROBAR(archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) && archivo.write(anterior) > 0,
                       QStringLiteral("cannot write the earlier file"));
    }
    const bool guardado = DecodificarYGuardar(texto.toUtf8(), ruta);
    FUZZ_COMPROBAR(guardado == valido,
                   QStringLiteral("decoding %1 but saving %2 for ").arg(valido).arg(guardado) + fuzz::Mostrar(texto));
    FUZZ_COMPROBAR(LeerArchivo(ruta) == (guardado ? bytes : anterior),
                   QStringLiteral("the file does not hold what it should after saving ") + fuzz::Mostrar(texto));
    FUZZ_COMPROBAR(Entradas(carpeta) == QStringList{QStringLiteral("documento.bin")},
                   QStringLiteral("left behind: ") + Entradas(carpeta).join(u' '));
    FUZZ_COMPROBAR(!DecodificarYGuardar(texto.toUtf8(), carpeta + QStringLiteral("/no-existe/documento.bin")),
                   QStringLiteral("saved into a folder that does not exist"));
    QFile::remove(ruta);
    if (!valido) {
        return;
    }

    // Only bare standard Base64 decodes, and it gives the bytes it encodes.
    const QByteArray ascii = texto.toLatin1();
    qsizetype sinRelleno = ascii.size();
    while (sinRelleno > 0 && ascii[sinRelleno - 1] == '=') {
        --sinRelleno;
    }
    const QString detalle = fuzz::Mostrar(texto);
    FUZZ_COMPROBAR(sinRelleno > 0, QStringLiteral("decoded a text without data: ") + detalle);
    for (qsizetype i = 0; i < sinRelleno; ++i) {
        FUZZ_COMPROBAR(EsAlfabetoBase64(ascii[i]),
                       QStringLiteral("decoded a text with a foreign character: ") + detalle);
    }
    const qsizetype relleno = ascii.size() - sinRelleno;
    FUZZ_COMPROBAR(relleno == 0 || (relleno <= 2 && ascii.size() % 4 == 0),
                   QStringLiteral("decoded a text with wrong padding: ") + detalle);
    FUZZ_COMPROBAR(sinRelleno % 4 != 1, QStringLiteral("decoded a dangling character: ") + detalle);
    FUZZ_COMPROBAR(bytes.size() == sinRelleno * 3 / 4,
                   QStringLiteral("%1 bytes from %2 characters: ").arg(bytes.size()).arg(sinRelleno) + detalle);
    const QByteArray otraVez = bytes.toBase64(QByteArray::OmitTrailingEquals);
    FUZZ_COMPROBAR(otraVez.size() == sinRelleno && otraVez.first(sinRelleno - 1) == ascii.first(sinRelleno - 1),
                   QStringLiteral("the bytes encode to another text: ") + fuzz::Mostrar(otraVez) +
                       QStringLiteral(" for ") + detalle);
}

void ComprobarNombre(const QString& nombre, const QString& carpeta)
{
    if (!NombreArchivoValido(nombre)) {
        return;
    }
    const QString detalle = fuzz::Mostrar(nombre);
    FUZZ_COMPROBAR(!nombre.isEmpty() && nombre != QLatin1String(".") && nombre != QLatin1String(".."),
                   QStringLiteral("accepted the name ") + detalle);
    for (const QChar c : nombre) {
        FUZZ_COMPROBAR(c != u'/' && c != u'\\' && c != u':' && c.unicode() >= 0x20 && c.unicode() != 0x7F,
                       QStringLiteral("accepted a name with a separator or control character: ") + detalle);
    }
    static const QRegularExpression kDispositivo(
        QStringLiteral("^\\s*(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])\\s*(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    FUZZ_COMPROBAR(!kDispositivo.match(nombre).hasMatch(), QStringLiteral("accepted a device name: ") + detalle);

    // A file saved under an accepted name is that one file, inside the folder.
    const QString ruta = carpeta + u'/' + nombre;
    if (GuardarBytes("x", ruta)) {
        FUZZ_COMPROBAR(Entradas(carpeta) == QStringList{nombre},
                       QStringLiteral("saving ") + detalle + QStringLiteral(" gave ") + Entradas(carpeta).join(u'|'));
        FUZZ_COMPROBAR(QFile::remove(ruta), QStringLiteral("cannot remove ") + detalle);
    }
    FUZZ_COMPROBAR(Entradas(carpeta).isEmpty(), QStringLiteral("left behind: ") + Entradas(carpeta).join(u'|'));
}

// The reader that decodes a document while its body arrives must come to exactly what parsing the whole body and
// decoding the member afterwards gives, however the body is cut.
void ComprobarLector(const QByteArray& cuerpo, const std::optional<QJsonObject>& esperado, uint8_t semilla)
{
    QByteArray bytesEsperados;
    const bool validoEsperado =
        esperado && DecodificarBase64(LeerTexto(*esperado, QStringLiteral("base64")).toUtf8(), bytesEsperados);
    for (const qsizetype paso : {qsizetype(0), qsizetype(1 + semilla % 7), qsizetype(1 + semilla)}) {
        LectorBase64JSON lector(QByteArrayLiteral("base64"));
        for (qsizetype n = paso; paso > 0 && n < cuerpo.size(); n += paso) {
            lector.Avanzar(QByteArrayView(cuerpo).first(n));
        }
        const std::optional<QJsonObject> objeto = lector.Terminar(cuerpo);
        FUZZ_COMPROBAR(objeto.has_value() == esperado.has_value(),
                       QStringLiteral("the reader judges the JSON otherwise: ") + fuzz::Mostrar(cuerpo));
        if (!objeto) {
            continue;
        }
        for (const QString& miembro : esperado->keys()) {
            FUZZ_COMPROBAR(miembro == QLatin1String("base64") ||
                               LeerTexto(*objeto, miembro) == LeerTexto(*esperado, miembro),
                           QStringLiteral("the reader reads another %1: ").arg(miembro) + fuzz::Mostrar(cuerpo));
        }
        QByteArray bytes;
        FUZZ_COMPROBAR(lector.TomarBase64(*objeto, bytes) == validoEsperado,
                       QStringLiteral("the reader decodes the document otherwise: ") + fuzz::Mostrar(cuerpo));
        FUZZ_COMPROBAR(!validoEsperado || bytes == bytesEsperados,
                       QStringLiteral("the reader decodes other bytes: ") + fuzz::Mostrar(cuerpo));
    }
}

void ComprobarEscape(const QString& texto)
{
    if (!texto.isValidUtf16()) {
        return; // a lone surrogate has no UTF-8 form to travel in
    }
    const QString documento = QStringLiteral("{\"v\":\"") + EscaparJSON(texto) + QStringLiteral("\"}");
    const std::optional<QJsonObject> objeto = ParsearJSON(documento.toUtf8());
    FUZZ_COMPROBAR(objeto.has_value(), QStringLiteral("escaped text breaks JSON: ") + fuzz::Mostrar(documento));
    FUZZ_COMPROBAR(LeerTexto(*objeto, QStringLiteral("v")) == texto,
                   QStringLiteral("escaped text reads back otherwise: ") + fuzz::Mostrar(texto));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Preparar();
    QDir().mkpath(fuzz::CarpetaRaiz() + QStringLiteral("/base64"));
    QDir().mkpath(fuzz::CarpetaRaiz() + QStringLiteral("/nombres"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano)
{
    const QByteArray bytes(reinterpret_cast<const char*>(datos), qsizetype(tamano));
    const QString cuerpo = DecodificarTexto(bytes);
    const QString carpetaBase64 = fuzz::CarpetaRaiz() + QStringLiteral("/base64");
    const QString carpetaNombres = fuzz::CarpetaRaiz() + QStringLiteral("/nombres");

    QStringList textos{cuerpo};
    const std::optional<QJsonObject> objeto = ParsearJSON(cuerpo.toUtf8());
    ComprobarLector(cuerpo.toUtf8(), objeto, tamano > 0 ? datos[0] : 0);
    if (objeto) {
        // What the endpoints read, and every other member too.
        for (const QString& miembro : objeto->keys()) {
            textos << LeerTexto(*objeto, miembro);
        }
        textos << LeerTexto(*objeto, QStringLiteral("no-esta"));
        FUZZ_COMPROBAR(LeerTexto(*objeto, QStringLiteral("no-esta")).isEmpty(),
                       QStringLiteral("a missing member reads as text"));
        // An object written out again parses to the same object. Not for a body with raw control characters: the
        // JSON reader tolerates them, but keys holding a raw NUL then get sorted in a way its own lookups miss.
        const bool controlCrudo = std::any_of(bytes.begin(), bytes.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
        });
        const QString otraVez = QString::fromUtf8(QJsonDocument(*objeto).toJson(QJsonDocument::Compact));
        const std::optional<QJsonObject> segundo = ParsearJSON(otraVez.toUtf8());
        FUZZ_COMPROBAR(controlCrudo || (segundo.has_value() && *segundo == *objeto),
                       QStringLiteral("the object does not survive being written out: ") + fuzz::Mostrar(otraVez));
    } else if (cuerpo.toUtf8() == bytes) {
        // A body sent as UTF-8 that holds a JSON object is never refused.
        QByteArray recortado = bytes;
        // JSON's own white space only: a form feed or vertical tab is not allowed around a value.
        const auto blanco = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        while (!recortado.isEmpty() && blanco(recortado.front())) {
            recortado.remove(0, 1);
        }
        while (!recortado.isEmpty() && blanco(recortado.back())) {
            recortado.chop(1);
        }
        FUZZ_COMPROBAR(
            !(recortado.startsWith('{') && recortado.endsWith('}') && QJsonDocument::fromJson(recortado).isObject()),
            QStringLiteral("a JSON object refused: ") + fuzz::Mostrar(bytes));
    }
    // Lines of a body that is not JSON stand for names and Base64 texts too.
    const QStringList lineas = cuerpo.split(u'\n');
    for (qsizetype i = 0; i < lineas.size() && i < 4; ++i) {
        textos << lineas[i];
    }

    for (const QString& texto : textos) {
        ComprobarBase64(texto, carpetaBase64);
        ComprobarNombre(texto, carpetaNombres);
        ComprobarEscape(texto);
    }
    return 0;
}
