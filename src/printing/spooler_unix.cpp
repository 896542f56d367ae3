#include "printing/spooler.h"

#include <cups/cups.h>

#include <QSet>

namespace {

// Every request goes to the scheduler the user's CUPS settings name (CUPS_SERVER, client.conf), never across a
// network: a local scheduler answers within a millisecond.
QByteArray UriDe(const char* recurso, const QString& nombre)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/%s/%s", recurso,
                     nombre.toUtf8().constData());
    return QByteArray(uri);
}

QStringList Textos(ipp_t* respuesta, const char* atributo)
{
    QStringList textos;
    if (ipp_attribute_t* a = ippFindAttribute(respuesta, atributo, IPP_TAG_ZERO)) {
        for (int i = 0; i < ippGetCount(a); ++i) {
            if (const char* t = ippGetString(a, i, nullptr)) {
                textos << QString::fromUtf8(t);
            }
        }
    }
    return textos;
}

// Reasons worth showing a person: "none" and the marks of a job running its normal course say nothing.
QString Motivos(ipp_t* respuesta, const char* atributo)
{
    static const QSet<QString> normales{QStringLiteral("none"),
                                        QStringLiteral("job-printing"),
                                        QStringLiteral("job-queued"),
                                        QStringLiteral("job-incoming"),
                                        QStringLiteral("job-completed-successfully"),
                                        QStringLiteral("processing-to-stop-point")};
    QStringList motivos = Textos(respuesta, atributo);
    motivos.removeIf([](const QString& m) { return normales.contains(m); });
    return motivos.join(QStringLiteral(", "));
}

ipp_t* Pedir(ipp_op_t operacion, const char* atributoUri, const QByteArray& uri,
             std::initializer_list<const char*> atributos)
{
    ipp_t* pedido = ippNewRequest(operacion);
    ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_URI, atributoUri, nullptr, uri.constData());
    ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    const std::vector<const char*> lista(atributos);
    ippAddStrings(pedido, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(lista.size()),
                  nullptr, lista.data());
    ipp_t* respuesta = cupsDoRequest(CUPS_HTTP_DEFAULT, pedido, "/");
    if (respuesta != nullptr && ippGetStatusCode(respuesta) > IPP_STATUS_OK_CONFLICTING) {
        ippDelete(respuesta);
        return nullptr;
    }
    return respuesta;
}

class EnvioCups final : public EnvioDirecto
{
public:
    EnvioCups(http_t* http, QByteArray cola, int trabajo)
        : m_http(http)
        , m_cola(std::move(cola))
        , m_trabajo(trabajo)
    {
    }

    ~EnvioCups() override
    {
        if (!m_terminado) {
            cupsFinishDocument(m_http, m_cola.constData());
            cupsCancelJob2(m_http, m_cola.constData(), m_trabajo, 0);
        }
        httpClose(m_http);
    }

    bool Escribir(QByteArrayView trozo, QString& motivo) override
    {
        if (cupsWriteRequestData(m_http, trozo.data(), static_cast<size_t>(trozo.size())) != HTTP_STATUS_CONTINUE) {
            motivo = QString::fromUtf8(cupsLastErrorString());
            return false;
        }
        return true;
    }

    bool Terminar(QString& id, QString& motivo) override
    {
        m_terminado = true;
        if (cupsFinishDocument(m_http, m_cola.constData()) > IPP_STATUS_OK_CONFLICTING) {
            motivo = QString::fromUtf8(cupsLastErrorString());
            return false;
        }
        id = QString::number(m_trabajo);
        return true;
    }

private:
    http_t* m_http;
    QByteArray m_cola;
    int m_trabajo;
    bool m_terminado = false;
};

class SpoolerCups final : public Spooler
{
public:
    QString Predeterminada() const override { return QString::fromUtf8(cupsGetDefault2(CUPS_HTTP_DEFAULT)); }

    std::optional<DetalleImpresora> Detalle(const QString& impresora) const override
    {
        ipp_t* r = Pedir(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", UriDe("printers", impresora),
                         {"printer-state", "printer-state-reasons", "media-supported", "media-source-supported",
                          "sides-supported", "color-supported"});
        if (r == nullptr) {
            return std::nullopt;
        }
        DetalleImpresora d;
        d.nombre = impresora;
        switch (ippGetInteger(ippFindAttribute(r, "printer-state", IPP_TAG_ENUM), 0)) {
        case IPP_PSTATE_IDLE:
            d.estado = QStringLiteral("lista");
            break;
        case IPP_PSTATE_PROCESSING:
            d.estado = QStringLiteral("imprimiendo");
            break;
        case IPP_PSTATE_STOPPED:
            d.estado = QStringLiteral("detenida");
            break;
        default:
            break;
        }
        d.motivo = Motivos(r, "printer-state-reasons");
        // The names people know ("A4", "Letter"), which CUPS takes back as media as well as its own.
        for (const QString& medio : Textos(r, "media-supported")) {
            const pwg_media_t* pwg = pwgMediaForPWG(medio.toUtf8().constData());
            const QString nombre = pwg && pwg->ppd ? QString::fromUtf8(pwg->ppd) : medio;
            if (!d.papeles.contains(nombre)) {
                d.papeles << nombre;
            }
        }
        d.bandejas = Textos(r, "media-source-supported");
        for (const QString& lados : Textos(r, "sides-supported")) {
            d.duplex = d.duplex || lados.startsWith(QLatin1String("two-sided"));
        }
        d.color = ippGetBoolean(ippFindAttribute(r, "color-supported", IPP_TAG_BOOLEAN), 0) != 0;
        ippDelete(r);
        return d;
    }

    std::unique_ptr<EnvioDirecto> AbrirDirecto(const QString& impresora, const QString& nombreTrabajo,
                                               QString& motivo) override
    {
        // A connection of the job's own: pieces of two jobs may be on their way at the same time.
        http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 5000, nullptr);
        if (http == nullptr) {
            motivo = QString::fromUtf8(cupsLastErrorString());
            return nullptr;
        }
        const QByteArray cola = impresora.toUtf8();
        const QByteArray titulo = nombreTrabajo.toUtf8();
        const int trabajo = cupsCreateJob(http, cola.constData(), titulo.constData(), 0, nullptr);
        if (trabajo == 0) {
            motivo = QString::fromUtf8(cupsLastErrorString());
            httpClose(http);
            return nullptr;
        }
        if (cupsStartDocument(http, cola.constData(), trabajo, titulo.constData(), CUPS_FORMAT_RAW, 1) !=
            HTTP_STATUS_CONTINUE) {
            motivo = QString::fromUtf8(cupsLastErrorString());
            cupsCancelJob2(http, cola.constData(), trabajo, 0);
            httpClose(http);
            return nullptr;
        }
        return std::make_unique<EnvioCups>(http, cola, trabajo);
    }

    InfoTrabajo Consultar(const QString&, const QString& id) const override
    {
        ipp_t* r = Pedir(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", UriDe("jobs", id),
                         {"job-state", "job-state-reasons", "job-printer-state-message"});
        InfoTrabajo info;
        if (r == nullptr) {
            return info;
        }
        switch (ippGetInteger(ippFindAttribute(r, "job-state", IPP_TAG_ENUM), 0)) {
        case IPP_JSTATE_PENDING:
        case IPP_JSTATE_HELD:
        case IPP_JSTATE_STOPPED:
            info.estado = EstadoTrabajo::EnCola;
            break;
        case IPP_JSTATE_PROCESSING:
            info.estado = EstadoTrabajo::Imprimiendo;
            break;
        case IPP_JSTATE_CANCELED:
            info.estado = EstadoTrabajo::Cancelado;
            break;
        case IPP_JSTATE_ABORTED:
            info.estado = EstadoTrabajo::Fallido;
            break;
        case IPP_JSTATE_COMPLETED:
            info.estado = EstadoTrabajo::Terminado;
            break;
        default:
            break;
        }
        // The printer's own words say most ("Unable to open serial port..."); the reasons when it says nothing.
        info.detalle = Textos(r, "job-printer-state-message").value(0).trimmed();
        if (info.detalle.isEmpty()) {
            info.detalle = Motivos(r, "job-state-reasons");
        }
        ippDelete(r);
        return info;
    }

    // lp tells every job's id: no CUPS job is looked for by its name.
    QString BuscarPorDocumento(const QString&, const QString&) const override { return QString(); }
};

} // namespace

std::unique_ptr<Spooler> CrearSpoolerDelSistema()
{
    return std::make_unique<SpoolerCups>();
}
