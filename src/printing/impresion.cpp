#include "printing/impresion.h"

#include "base/archivos.h"
#include "base/json.h"
#include "base/lector_base64_json.h"
#include "base/registro.h"
#include "base/texto.h"
#include "printing/catalogo.h"
#include "printing/visor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// A viewer reads its file within seconds of starting; a print's file is removed well after that.
constexpr qint64 kVidaPDF = 10 * 60 * 1000;

const QRegularExpression& PatronRecibido()
{
    static const QRegularExpression patron(QStringLiteral("^archivo_recibido(_\\d+)?\\.pdf$"));
    return patron;
}

const QString kNoGuardado = QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar PDF\"}");
const QString kNoImpreso = QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}");

} // namespace

Impresion::Impresion(const QString& carpetaPrograma, const ListaImpresoras& impresoras, std::unique_ptr<VisorPDF> visor,
                     Reloj reloj)
    : m_carpeta(QDir::fromNativeSeparators(carpetaPrograma))
    , m_reloj(std::move(reloj))
    , m_impresoras(impresoras)
    , m_visor(std::move(visor))
{
    // No viewer of an earlier run still reads its file by now; one that does keeps it (removal fails) and its
    // number is skipped.
    const QDir carpeta(m_carpeta);
    for (const QString& nombre : carpeta.entryList(QDir::Files | QDir::System)) {
        if (PatronRecibido().match(nombre).hasMatch()) {
            QFile::remove(carpeta.filePath(nombre));
        }
    }
}

QString Impresion::NuevoPDF(const QByteArray& contenido, QString& motivo)
{
    RetirarTerminados();
    // A name still taken (a file a viewer held on to, or another agent's) is passed over, never replaced.
    for (int intento = 0; intento < 1000; ++intento) {
        const QString ruta = m_carpeta + QStringLiteral("/archivo_recibido_%1.pdf").arg(++m_numero);
        if (QFileInfo::exists(ruta) || QFileInfo(ruta).isSymLink()) {
            continue;
        }
        if (!EscribirArchivoNuevo(contenido, ruta, &motivo)) {
            return QString();
        }
        m_guardados.append({ruta, m_reloj()});
        return ruta;
    }
    return QString();
}

void Impresion::RetirarTerminados()
{
    const qint64 ahora = m_reloj();
    m_guardados.removeIf([ahora](const Guardado& g) {
        return ahora - g.ms >= kVidaPDF && (QFile::remove(g.ruta) || !QFileInfo::exists(g.ruta));
    });
}

Impresion::~Impresion() = default;

QString Impresion::ListarImpresoras() const
{
    return CatalogoImpresoras(m_impresoras.Nombres());
}

void Impresion::Imprimir(QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder)
{
    // A PDF of megabytes is decoded as it arrives when the caller fed a reader; otherwise it is read here. Each
    // form of the document is let go as soon as the next exists, so the body is never held many times over.
    if (!lector) {
        lector = std::make_unique<LectorBase64JSON>(QByteArrayLiteral("base64"));
    }
    std::optional<QJsonObject> objeto = lector->Terminar(std::move(cuerpo));
    if (!objeto) {
        EscribirLog(QStringLiteral("? JSON inválido recibido en /print-base64"));
        responder(kRespuestaJsonInvalido);
        return;
    }
    const QString nombre = LeerTexto(*objeto, QStringLiteral("nombreImpresora"));

    // The exact keyword needs no printer at all; any other name must be installed. One reading of the list serves
    // both the check and the catalogue of the refusal.
    if (nombre != kPredeterminada) {
        const QStringList instaladas = m_impresoras.Nombres();
        if (!ExisteImpresoraEn(instaladas, nombre)) {
            EscribirLog(QStringLiteral("? Impresora no encontrada: ") + ParaLog(nombre));
            responder(QStringLiteral("{\"success\":false,\"error\":\"Impresora no encontrada: ") + EscaparJSON(nombre) +
                      QStringLiteral("\",\"impresorasDisponibles\":") + CatalogoImpresoras(instaladas) + u'}');
            return;
        }
    }

    QByteArray contenido;
    const bool decodificado = lector->TomarBase64(*objeto, contenido);
    objeto.reset();
    lector.reset();
    QString motivo;
    const QString ruta = decodificado ? NuevoPDF(contenido, motivo) : QString();
    if (ruta.isEmpty()) {
        if (!motivo.isEmpty()) {
            EscribirLog(QStringLiteral("? ") + motivo);
        }
        EscribirLog(QStringLiteral("? Error al guardar PDF"));
        responder(kNoGuardado);
        return;
    }
    EscribirLog(QStringLiteral("PDF guardado: ") + QDir::toNativeSeparators(ruta));

    m_visor->ImprimirPDF(ruta, nombre, contenido, [nombre, responder = std::move(responder)](bool iniciado) {
        if (iniciado) {
            EscribirLog(QStringLiteral("?? Impreso en: ") + ParaLog(nombre));
            responder(QStringLiteral("{\"success\":true,\"impresora\":\"") + EscaparJSON(nombre) +
                      QStringLiteral("\"}"));
        } else {
            EscribirLog(QStringLiteral("? Error al imprimir en: ") + ParaLog(nombre));
            responder(kNoImpreso);
        }
    });
}
