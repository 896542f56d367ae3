#include "handoff/entrega_csv.h"

#include "base/archivos.h"
#include "base/json.h"
#include "base/lanzador.h"
#include "base/lector_base64_json.h"
#include "base/registro.h"
#include "base/texto.h"
#include "settings/carpetas_sistema.h"
#include "settings/configuracion.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kNombreInvalido = QStringLiteral("{\"success\":false,\"error\":\"Nombre de archivo inválido\"}");
const QString kNoGuardado = QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar el CSV\"}");
const QString kQendraNoIniciado =
    QStringLiteral("{\"success\":false,\"error\":\"CSV recibido pero no se pudo ejecutar Qendra, asegurate de tener "
                   "Qendra instalado en la carpeta por defecto\"}");
const QString kExito = QStringLiteral("{\"success\":true,\"mensaje\":\"CSV recibido y ejecutado\"}");

bool EsNombreDeDispositivo(const QString& nombre)
{
    // Windows opens the device whatever extension follows, and ignores spaces before the dot.
    const QString base = nombre.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList kFijos{QStringLiteral("CON"), QStringLiteral("PRN"),    QStringLiteral("AUX"),
                                    QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (kFijos.contains(base)) {
        return true;
    }
    if (base.size() != 4 || !(base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")))) {
        return false;
    }
    // The superscript digits are ports too.
    const char16_t cifra = base[3].unicode();
    return (cifra >= u'1' && cifra <= u'9') || cifra == u'\u00B9' || cifra == u'\u00B2' || cifra == u'\u00B3';
}

QString ConSeparadorFinal(const QString& carpeta)
{
    QString ruta = QDir::fromNativeSeparators(carpeta);
    if (!ruta.endsWith(u'/')) {
        ruta += u'/';
    }
    return ruta;
}

} // namespace

bool NombreArchivoValido(const QString& nombre)
{
    // A lone surrogate (JSON allows "\ud800") has no file name on any file system: it would be stored as
    // something else.
    if (nombre.isEmpty() || nombre == QLatin1String(".") || nombre == QLatin1String("..") || !nombre.isValidUtf16()) {
        return false;
    }
    // What Windows refuses in a name, refused everywhere so that a name works the same on every till.
    static const QString kProhibidos = QStringLiteral("/\\:<>\"|?*");
    for (const QChar c : nombre) {
        if (kProhibidos.contains(c) || c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    // Windows drops a trailing dot or space: "a.csv." would be stored as another file, "a.csv".
    if (nombre.endsWith(u'.') || nombre.endsWith(u' ')) {
        return false;
    }
    return !EsNombreDeDispositivo(nombre);
}

EntregaCSV::EntregaCSV(const Configuracion& cfg, Lanzador& lanzador)
    : m_lanzador(lanzador)
{
    const CarpetasSistema sistema = CarpetasDelSistema();
    m_carpetaDatos = ConSeparadorFinal(cfg.CarpetaCSV.isEmpty() ? sistema.datosCsv : cfg.CarpetaCSV);
    m_programaQendra =
        QDir::fromNativeSeparators(cfg.ProgramaQendra.isEmpty() ? sistema.programaQendra : cfg.ProgramaQendra);
}

QString EntregaCSV::CarpetaQendra() const
{
    return ConSeparadorFinal(QFileInfo(m_programaQendra).absolutePath());
}

QString EntregaCSV::RecibirCSV(QByteArray cuerpo)
{
    LectorBase64JSON lector(QByteArrayLiteral("base64"));
    const std::optional<QJsonObject> objeto = lector.Terminar(std::move(cuerpo));
    if (!objeto) {
        EscribirLog(QStringLiteral("? JSON inválido recibido en /csv-base64"));
        return kRespuestaJsonInvalido;
    }
    QString nombre = LeerTexto(*objeto, QStringLiteral("nombreArchivo"));
    if (nombre.isEmpty()) {
        nombre = QStringLiteral("archivo.csv");
    }
    if (!NombreArchivoValido(nombre)) {
        EscribirLog(QStringLiteral("? Nombre de archivo inválido en /csv-base64: ") + ParaLog(nombre));
        return kNombreInvalido;
    }

    if (!QDir().mkpath(m_carpetaDatos)) {
        EscribirLog(QStringLiteral("? No se pudo crear la carpeta ") + QDir::toNativeSeparators(m_carpetaDatos));
        EscribirLog(QStringLiteral("? Error al guardar CSV"));
        return kNoGuardado;
    }
    const QString ruta = m_carpetaDatos + nombre;
    QByteArray contenido;
    QString motivo;
    if (!lector.TomarBase64(*objeto, contenido) || !GuardarBytes(contenido, ruta, &motivo)) {
        if (!motivo.isEmpty()) {
            EscribirLog(QStringLiteral("? ") + motivo);
        }
        EscribirLog(QStringLiteral("? Error al guardar CSV"));
        return kNoGuardado;
    }
    EscribirLog(QStringLiteral("?? CSV guardado en: ") + EscaparParaLog(QDir::toNativeSeparators(ruta)));

    if (!EjecutarPrograma(m_lanzador, m_programaQendra, {QStringLiteral("-i")}, CarpetaQendra())) {
        EscribirLog(QStringLiteral("? Error al ejecutar Qendra.exe"));
        return kQendraNoIniciado;
    }
    EscribirLog(QStringLiteral("? qendra.exe ejecutado correctamente."));
    return kExito;
}
