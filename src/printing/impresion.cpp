#include "printing/impresion.h"

#include "base/base64.h"
#include "base/cuerpo_json.h"
#include "base/registro.h"
#include "base/texto.h"
#include "printing/catalogo.h"
#include "printing/visor.h"

#include <QDir>

namespace {

const QString kNoGuardado = QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar PDF\"}");
const QString kNoImpreso = QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}");

} // namespace

Impresion::Impresion(const QString& carpetaPrograma, const ListaImpresoras& impresoras, std::unique_ptr<VisorPDF> visor)
    : m_rutaPDF(QDir::fromNativeSeparators(carpetaPrograma) + QStringLiteral("/archivo_recibido.pdf"))
    , m_impresoras(impresoras)
    , m_visor(std::move(visor))
{
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
    if (!decodificado || !GuardarBytes(contenido, m_rutaPDF, &motivo)) {
        if (!motivo.isEmpty()) {
            EscribirLog(QStringLiteral("? ") + motivo);
        }
        EscribirLog(QStringLiteral("? Error al guardar PDF"));
        responder(kNoGuardado);
        return;
    }
    EscribirLog(QStringLiteral("PDF guardado: ") + QDir::toNativeSeparators(m_rutaPDF));

    m_visor->ImprimirPDF(m_rutaPDF, nombre, contenido, [nombre, responder = std::move(responder)](bool iniciado) {
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
