#pragma once

#include "base/cuerpo_json.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class ListaImpresoras;
class VisorPDF;

// GET /impresoras and POST /print-base64.
class Impresion final
{
public:
    using Responder = std::function<void(const QString& respuesta)>;

    // The PDF is saved as carpetaPrograma + "/archivo_recibido.pdf". `impresoras` must outlive this object.
    explicit Impresion(const QString& carpetaPrograma, const ListaImpresoras& impresoras,
                       std::unique_ptr<VisorPDF> visor);
    ~Impresion();

    // The printer catalogue, read afresh.
    QString ListarImpresoras() const;

    // Answers a print request through `responder`, exactly once: at once for every refusal, and as soon as the
    // printing program has started (or failed to) otherwise, without waiting for the print itself. `lector`, when
    // given, has read the body's beginning as it arrived.
    void Imprimir(QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder);

private:
    QString m_rutaPDF;
    const ListaImpresoras& m_impresoras;
    std::unique_ptr<VisorPDF> m_visor;
};
