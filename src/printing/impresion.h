#pragma once

#include "base/lector_base64_json.h"
#include "base/reloj.h"
#include "base/responder.h"
#include "printing/opciones.h"
#include "printing/spooler.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class ListaImpresoras;
class QObject;
class TablaTrabajos;
class VisorPDF;

// GET /impresoras, GET /impresoras/detalle, POST /print-base64, POST /print-raw and GET /trabajos/<id>.
class Impresion final
{
public:
    // Each PDF is saved in carpetaPrograma as a file of its own, "archivo_recibido_<n>.pdf": a viewer still reading
    // one print's file never sees the next. The files of an earlier run are removed here, and a print's file once
    // its viewer has long finished, as `reloj` (the wall clock, which also stamps the jobs) measures it. `impresoras`
    // must outlive this object. Without a spooler nothing is printed raw and jobs and printers are only what the
    // agent itself knows of them.
    Impresion(const QString& carpetaPrograma, const ListaImpresoras& impresoras, std::unique_ptr<VisorPDF> visor,
              Reloj reloj, std::unique_ptr<Spooler> spooler = nullptr);
    ~Impresion();

    // The printer catalogue, read afresh.
    QString ListarImpresoras() const;

    // Answers a print request through `responder`, exactly once: at once for every refusal, and as soon as the
    // printing program has started (or failed to) otherwise, without waiting for the print itself. `lector`, when
    // given, has read the body's beginning as it arrived.
    void Imprimir(QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder);

    // Hands the body's bytes unchanged to the printer's queue, a piece per turn of the event loop, and answers once
    // the spooler has taken every byte (or refused them).
    void ImprimirDirecto(QByteArray cuerpo, Responder responder);

    // GET /trabajos/<id>, answered through `responder` once the spooler has told the job's state (or at once).
    void ConsultarTrabajo(const QString& id, Responder responder);
    // GET /impresoras/detalle, answered through `responder` once the spooler has told of every printer.
    void DetalleImpresoras(Responder responder);

private:
    struct Directo;
    struct Pedido;
    struct Reunion;
    struct Guardado
    {
        QString ruta;
        qint64 ms;
    };

    // The new print's file, or empty with `motivo` saying why (when anything can).
    QString NuevoPDF(const QByteArray& contenido, QString& motivo);
    void RetirarTerminados();
    // The spooler's name of the printer asked for (the default printer for the keyword), or empty, to `alSaber`.
    void Cola(const QString& nombre, const QStringList& instaladas, std::function<void(const QString&)> alSaber);
    // The installed printers, from the spooler when it lists them without waiting, else from the printer list.
    void LeerImpresoras(std::function<void(const QStringList&)> alLeer);
    static void Desconocida(const QString& nombre, const QStringList& instaladas, const Responder& responder);
    // Goes on with a PDF request whose printer is known to be installed (or is the keyword).
    void Comprobada(const std::shared_ptr<Pedido>& pedido, const QStringList& instaladas);
    // Goes on with a PDF request once its printer's queue (and, when an option needs them, its details) is known.
    void ImprimirEn(const std::shared_ptr<Pedido>& pedido, const std::optional<DetalleImpresora>& detalle);
    void Reunir(const std::shared_ptr<Reunion>& reunion);
    void AbrirDirecto(const std::shared_ptr<Directo>& directo, const QString& titulo);
    // A raw job's end: the spooler's id, or empty and its reason.
    void Concluir(const std::shared_ptr<Directo>& directo, const QString& idSpooler, const QString& motivo);

    QString m_carpeta;
    Reloj m_reloj;
    qint64 m_numero = 0;
    QList<Guardado> m_guardados;
    const ListaImpresoras& m_impresoras;
    std::unique_ptr<VisorPDF> m_visor;
    std::unique_ptr<Spooler> m_spooler;
    // Shared with the callbacks of programs that may end after this object.
    std::shared_ptr<TablaTrabajos> m_trabajos;
    // Raw jobs still open go with this object.
    std::unique_ptr<QObject> m_contexto;
};
