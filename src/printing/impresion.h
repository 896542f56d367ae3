#pragma once

#include "base/lector_base64_json.h"
#include "base/reloj.h"

#include <QByteArray>
#include <QList>
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

    // Each PDF is saved in carpetaPrograma as a file of its own, "archivo_recibido_<n>.pdf": a viewer still reading
    // one print's file never sees the next. The files of an earlier run are removed here, and a print's file once
    // its viewer has long finished, as `reloj` (a monotonic clock) measures it. `impresoras` must outlive this object.
    Impresion(const QString& carpetaPrograma, const ListaImpresoras& impresoras, std::unique_ptr<VisorPDF> visor,
              Reloj reloj);
    ~Impresion();

    // The printer catalogue, read afresh.
    QString ListarImpresoras() const;

    // Answers a print request through `responder`, exactly once: at once for every refusal, and as soon as the
    // printing program has started (or failed to) otherwise, without waiting for the print itself. `lector`, when
    // given, has read the body's beginning as it arrived.
    void Imprimir(QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder);

private:
    struct Guardado
    {
        QString ruta;
        qint64 ms;
    };

    // The new print's file, or empty with `motivo` saying why (when anything can).
    QString NuevoPDF(const QByteArray& contenido, QString& motivo);
    void RetirarTerminados();

    QString m_carpeta;
    Reloj m_reloj;
    qint64 m_numero = 0;
    QList<Guardado> m_guardados;
    const ListaImpresoras& m_impresoras;
    std::unique_ptr<VisorPDF> m_visor;
};
