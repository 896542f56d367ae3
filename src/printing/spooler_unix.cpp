#include "printing/spooler.h"

#include "base/registro.h"
#include "printing/lista_impresoras.h"

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QLocalSocket>
#include <QSet>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <list>
#include <type_traits>
#include <utility>

namespace {

// libcups is loaded when a print or a spooler query first needs it, not at start-up: with what it pulls in (TLS,
// Kerberos, mDNS) it costs some 13 ms and 2 MB before the agent could answer its first request.
struct LibCups
{
    bool cargada = false;
    decltype(&::cupsAddOption) cupsAddOption = nullptr;
    decltype(&::cupsEncodeOptions2) cupsEncodeOptions2 = nullptr;
    decltype(&::cupsFreeDests) cupsFreeDests = nullptr;
    decltype(&::cupsFreeOptions) cupsFreeOptions = nullptr;
    decltype(&::cupsGetDests) cupsGetDests = nullptr;
    decltype(&::cupsServer) cupsServer = nullptr;
    decltype(&::cupsUser) cupsUser = nullptr;
    decltype(&::httpAssembleURIf) httpAssembleURIf = nullptr;
    decltype(&::ippAddString) ippAddString = nullptr;
    decltype(&::ippAddStrings) ippAddStrings = nullptr;
    decltype(&::ippDelete) ippDelete = nullptr;
    decltype(&::ippErrorString) ippErrorString = nullptr;
    decltype(&::ippFindAttribute) ippFindAttribute = nullptr;
    decltype(&::ippFindNextAttribute) ippFindNextAttribute = nullptr;
    decltype(&::ippGetBoolean) ippGetBoolean = nullptr;
    decltype(&::ippGetCount) ippGetCount = nullptr;
    decltype(&::ippGetInteger) ippGetInteger = nullptr;
    decltype(&::ippGetStatusCode) ippGetStatusCode = nullptr;
    decltype(&::ippGetString) ippGetString = nullptr;
    decltype(&::ippNew) ippNew = nullptr;
    decltype(&::ippNewRequest) ippNewRequest = nullptr;
    decltype(&::ippPort) ippPort = nullptr;
    decltype(&::ippReadIO) ippReadIO = nullptr;
    decltype(&::ippWriteIO) ippWriteIO = nullptr;
    decltype(&::pwgMediaForPWG) pwgMediaForPWG = nullptr;
};

const LibCups& Cups()
{
    static const LibCups cups = [] {
        LibCups c;
        QLibrary biblioteca(QStringLiteral("cups"), 2);
        if (!biblioteca.load()) {
            EscribirLog(QStringLiteral("? No se pudo cargar libcups: ") + biblioteca.errorString());
            return c;
        }
        bool todas = true;
        const auto Resolver = [&](auto& funcion, const char* nombre) {
            funcion = reinterpret_cast<std::remove_reference_t<decltype(funcion)>>(biblioteca.resolve(nombre));
            todas = todas && funcion != nullptr;
        };
        Resolver(c.cupsAddOption, "cupsAddOption");
        Resolver(c.cupsEncodeOptions2, "cupsEncodeOptions2");
        Resolver(c.cupsFreeDests, "cupsFreeDests");
        Resolver(c.cupsFreeOptions, "cupsFreeOptions");
        Resolver(c.cupsGetDests, "cupsGetDests");
        Resolver(c.cupsServer, "cupsServer");
        Resolver(c.cupsUser, "cupsUser");
        Resolver(c.httpAssembleURIf, "httpAssembleURIf");
        Resolver(c.ippAddString, "ippAddString");
        Resolver(c.ippAddStrings, "ippAddStrings");
        Resolver(c.ippDelete, "ippDelete");
        Resolver(c.ippErrorString, "ippErrorString");
        Resolver(c.ippFindAttribute, "ippFindAttribute");
        Resolver(c.ippFindNextAttribute, "ippFindNextAttribute");
        Resolver(c.ippGetBoolean, "ippGetBoolean");
        Resolver(c.ippGetCount, "ippGetCount");
        Resolver(c.ippGetInteger, "ippGetInteger");
        Resolver(c.ippGetStatusCode, "ippGetStatusCode");
        Resolver(c.ippGetString, "ippGetString");
        Resolver(c.ippNew, "ippNew");
        Resolver(c.ippNewRequest, "ippNewRequest");
        Resolver(c.ippPort, "ippPort");
        Resolver(c.ippReadIO, "ippReadIO");
        Resolver(c.ippWriteIO, "ippWriteIO");
        Resolver(c.pwgMediaForPWG, "pwgMediaForPWG");
        if (!todas) {
            EscribirLog(QStringLiteral("? libcups no tiene todo lo que la impresión necesita: ") +
                        biblioteca.fileName());
        }
        c.cargada = todas;
        return c;
    }();
    return cups;
}

// Every request goes to the scheduler the user's CUPS settings name (CUPS_SERVER, client.conf), never across a
// network: a local scheduler answers within a millisecond.
QByteArray UriDe(const char* recurso, const QString& nombre)
{
    char uri[HTTP_MAX_URI];
    Cups().httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", Cups().ippPort(),
                            "/%s/%s", recurso, nombre.toUtf8().constData());
    return QByteArray(uri);
}

QStringList Textos(ipp_t* respuesta, const char* atributo)
{
    QStringList textos;
    if (ipp_attribute_t* a = Cups().ippFindAttribute(respuesta, atributo, IPP_TAG_ZERO)) {
        for (int i = 0; i < Cups().ippGetCount(a); ++i) {
            if (const char* t = Cups().ippGetString(a, i, nullptr)) {
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

// A raw job is one Print-Job request whose document follows in chunks as it is written; a query is a request alone.
// libcups builds and reads the IPP messages and Qt's sockets carry them: nothing waits for the scheduler, whose
// reply (tens of milliseconds on a busy machine) is read when it comes.
class EnvioCups final : public EnvioDirecto
{
public:
    static constexpr int kEsperaMs = 60000;
    // A page waits for a query's answer: a scheduler that has not answered by then will not.
    static constexpr int kEsperaConsultaMs = 5000;
    // Gets a query's answer, or null when there is none (the scheduler unreachable, or refusing the request).
    using AlLeer = std::function<void(ipp_t* respuesta)>;

    explicit EnvioCups(QIODevice* conexion, AlLeer alLeer = nullptr)
        : m_conexion(conexion)
        , m_alLeer(std::move(alLeer))
    {
        QObject::connect(m_conexion, &QIODevice::readyRead, m_conexion, [this] { Leer(); });
        QObject::connect(m_conexion, &QIODevice::bytesWritten, m_conexion, [this] {
            if (m_alPoder && m_conexion->bytesToWrite() == 0) {
                m_espera.stop();
                std::exchange(m_alPoder, nullptr)();
            }
        });
        QObject::connect(&m_espera, &QTimer::timeout, m_conexion,
                         [this] { Concluir(QString(), QStringLiteral("el spooler no respondió")); });
        m_espera.setSingleShot(true);
    }

    ~EnvioCups() override
    {
        // Torn down from one of its own signals, perhaps: the socket goes once control leaves it. A request cut
        // short of its last chunk creates no job.
        QObject::disconnect(m_conexion, nullptr, nullptr, nullptr);
        m_conexion->close();
        m_conexion->deleteLater();
    }

    // The connection closed or failed.
    void Cerrada(const QString& error)
    {
        if (!m_concluido && !Leer(true)) {
            Concluir(QString(), error.isEmpty() ? QStringLiteral("el spooler cerró la conexión") : error);
        }
    }

    void Comenzar(const QByteArray& cabecera, const QByteArray& ipp)
    {
        if (!m_concluido) {
            m_conexion->write(cabecera);
            Enviar(ipp);
        }
    }

    bool Escribir(QByteArrayView trozo, QString& motivo) override
    {
        if (m_concluido) {
            motivo = m_motivo.isEmpty() ? QStringLiteral("el spooler respondió antes de tiempo") : m_motivo;
            return false;
        }
        Enviar(trozo);
        return true;
    }

    // The scheduler takes a document written to it in pieces several times faster than one handed to the socket
    // whole; and the agent keeps no copy of what it has not yet taken.
    void CuandoPuedaSeguir(std::function<void()> seguir) override
    {
        if (m_concluido || m_conexion->bytesToWrite() == 0) {
            seguir();
            return;
        }
        m_alPoder = std::move(seguir);
        m_espera.start(kEsperaMs);
    }

    void Terminar(AlTerminar alTerminar) override
    {
        m_alTerminar = std::move(alTerminar);
        if (m_concluido) {
            Avisar();
            return;
        }
        m_conexion->write("0\r\n\r\n");
        m_espera.start(m_alLeer ? kEsperaConsultaMs : kEsperaMs);
    }

    bool Concluido() const { return m_concluido; }
    const QString& Motivo() const { return m_motivo; }

private:
    // One chunk, one write to the socket: a buffer of exactly its size, which the allocator reuses from one piece to
    // the next as long as pieces stay below its threshold for mapped buffers.
    void Enviar(QByteArrayView bytes)
    {
        if (bytes.isEmpty()) {
            return;
        }
        const QByteArray largo = QByteArray::number(bytes.size(), 16);
        QByteArray trozo;
        trozo.reserve(largo.size() + bytes.size() + 4);
        trozo.append(largo).append("\r\n").append(bytes).append("\r\n");
        m_conexion->write(trozo);
    }

    // True once the whole answer is in (or, at the connection's end, whatever there is of it).
    bool Leer(bool alCerrar = false)
    {
        m_respuesta += m_conexion->readAll();
        while (m_respuesta.startsWith("HTTP/1.1 100") && m_respuesta.contains("\r\n\r\n")) {
            m_respuesta.remove(0, m_respuesta.indexOf("\r\n\r\n") + 4);
        }
        const qsizetype finCabecera = m_respuesta.indexOf("\r\n\r\n");
        if (m_concluido || finCabecera < 0) {
            return m_concluido;
        }
        const QList<QByteArray> lineas = m_respuesta.left(finCabecera).split('\n');
        const QList<QByteArray> estado = lineas.first().trimmed().split(' ');
        qsizetype largo = -1;
        bool enTrozos = false;
        for (const QByteArray& linea : lineas.mid(1)) {
            const qsizetype dos = linea.indexOf(':');
            const QByteArray nombre = linea.left(dos).trimmed().toLower();
            const QByteArray valor = linea.mid(dos + 1).trimmed().toLower();
            if (nombre == "content-length") {
                largo = valor.toLongLong();
            } else if (nombre == "transfer-encoding") {
                enTrozos = valor.contains("chunked");
            }
        }
        QByteArray cuerpo = m_respuesta.mid(finCabecera + 4);
        if (enTrozos && !DesenTrozar(cuerpo)) {
            return false;
        }
        if (!enTrozos && (largo >= 0 ? cuerpo.size() < largo : !alCerrar)) {
            return false;
        }
        if (estado.value(1) != "200") {
            Concluir(QString(), QStringLiteral("HTTP ") + QString::fromLatin1(estado.mid(1).join(' ')));
            return true;
        }
        LeerIpp(largo >= 0 ? cuerpo.left(largo) : cuerpo);
        return true;
    }

    // Joins the chunks of `cuerpo`: false while the last one has not arrived.
    static bool DesenTrozar(QByteArray& cuerpo)
    {
        QByteArray unido;
        qsizetype pos = 0;
        for (;;) {
            const qsizetype fin = cuerpo.indexOf("\r\n", pos);
            if (fin < 0) {
                return false;
            }
            bool bien = false;
            const qsizetype largo = cuerpo.mid(pos, fin - pos).split(';').first().trimmed().toLongLong(&bien, 16);
            if (!bien || cuerpo.size() < fin + 2 + largo + 2) {
                return false;
            }
            if (largo == 0) {
                cuerpo = unido;
                return true;
            }
            unido += cuerpo.mid(fin + 2, largo);
            pos = fin + 2 + largo + 2;
        }
    }

    void LeerIpp(const QByteArray& cuerpo)
    {
        struct Lectura
        {
            const QByteArray& bytes;
            qsizetype pos = 0;
        } lectura{cuerpo};
        const auto leer = [](void* contexto, ipp_uchar_t* destino, size_t cuantos) -> ssize_t {
            auto& l = *static_cast<Lectura*>(contexto);
            const qsizetype n = std::min(static_cast<qsizetype>(cuantos), l.bytes.size() - l.pos);
            std::memcpy(destino, l.bytes.constData() + l.pos, static_cast<size_t>(n));
            l.pos += n;
            return n;
        };
        ipp_t* r = Cups().ippNew();
        ipp_state_t estado = IPP_STATE_IDLE;
        do {
            estado = Cups().ippReadIO(&lectura, leer, 1, nullptr, r);
        } while (estado != IPP_STATE_DATA && estado != IPP_STATE_ERROR);
        const ipp_status_t codigo = Cups().ippGetStatusCode(r);
        if (m_alLeer) {
            const AlLeer alLeer = std::exchange(m_alLeer, nullptr);
            alLeer(estado == IPP_STATE_ERROR || codigo > IPP_STATUS_OK_CONFLICTING ? nullptr : r);
            Cups().ippDelete(r);
            Concluir(QString(), QString());
            return;
        }
        const int trabajo = Cups().ippGetInteger(Cups().ippFindAttribute(r, "job-id", IPP_TAG_INTEGER), 0);
        QString motivo;
        if (estado == IPP_STATE_ERROR) {
            motivo = QStringLiteral("respuesta ilegible del spooler");
        } else if (codigo > IPP_STATUS_OK_CONFLICTING || trabajo <= 0) {
            const char* mensaje =
                Cups().ippGetString(Cups().ippFindAttribute(r, "status-message", IPP_TAG_TEXT), 0, nullptr);
            motivo = QString::fromUtf8(mensaje != nullptr ? mensaje : Cups().ippErrorString(codigo));
        }
        Cups().ippDelete(r);
        Concluir(motivo.isEmpty() ? QString::number(trabajo) : QString(), motivo);
    }

    void Concluir(const QString& id, const QString& motivo)
    {
        if (m_concluido) {
            return;
        }
        m_concluido = true;
        m_espera.stop();
        m_id = id;
        m_motivo = motivo;
        if (m_alPoder) {
            std::exchange(m_alPoder, nullptr)();
        }
        if (m_alLeer) {
            std::exchange(m_alLeer, nullptr)(nullptr);
        }
        if (m_alTerminar) {
            Avisar();
        }
    }

    // The last thing done: whoever hears it may drop this object.
    void Avisar()
    {
        const AlTerminar alTerminar = std::exchange(m_alTerminar, nullptr);
        const QString id = m_id;
        const QString motivo = m_motivo;
        alTerminar(id, motivo);
    }

    QIODevice* m_conexion;
    QTimer m_espera;
    QByteArray m_respuesta;
    bool m_concluido = false;
    QString m_id;
    QString m_motivo;
    AlLeer m_alLeer;
    AlTerminar m_alTerminar;
    std::function<void()> m_alPoder;
};

template <typename Socket> void Vigilar(Socket* socket, EnvioCups* envio)
{
    QObject::connect(socket, &Socket::disconnected, socket, [envio] { envio->Cerrada(QString()); });
    QObject::connect(socket, &Socket::errorOccurred, socket,
                     [envio, socket] { envio->Cerrada(socket->errorString()); });
}

QByteArray EnBytes(ipp_t* pedido);

// The IPP message that opens a job, as bytes: a document in `formato`, with CUPS's job attributes encoded as lp
// encodes them.
QByteArray PedidoDeTrabajo(const QString& impresora, const QString& nombreTrabajo, const char* formato,
                           const QStringList& atributos = QStringList())
{
    ipp_t* pedido = Cups().ippNewRequest(IPP_OP_PRINT_JOB);
    Cups().ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                        UriDe("printers", impresora).constData());
    Cups().ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, Cups().cupsUser());
    Cups().ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                        nombreTrabajo.toUtf8().constData());
    // The format goes among the options: encoded without one, they would name a format of their own.
    cups_option_t* opciones = nullptr;
    int cuantas = Cups().cupsAddOption("document-format", formato, 0, &opciones);
    for (const QString& atributo : atributos) {
        const qsizetype igual = atributo.indexOf(u'=');
        cuantas =
            Cups().cupsAddOption(atributo.left(igual).toUtf8().constData(),
                                 igual < 0 ? "true" : atributo.mid(igual + 1).toUtf8().constData(), cuantas, &opciones);
    }
    Cups().cupsEncodeOptions2(pedido, cuantas, opciones, IPP_TAG_OPERATION);
    Cups().cupsEncodeOptions2(pedido, cuantas, opciones, IPP_TAG_JOB);
    Cups().cupsFreeOptions(cuantas, opciones);
    return EnBytes(pedido);
}

// An IPP message as bytes; the message is let go.
QByteArray EnBytes(ipp_t* pedido)
{
    QByteArray bytes;
    const auto escribir = [](void* contexto, ipp_uchar_t* origen, size_t cuantos) -> ssize_t {
        static_cast<QByteArray*>(contexto)->append(reinterpret_cast<const char*>(origen),
                                                   static_cast<qsizetype>(cuantos));
        return static_cast<ssize_t>(cuantos);
    };
    ipp_state_t estado = IPP_STATE_IDLE;
    do {
        estado = Cups().ippWriteIO(&bytes, escribir, 1, nullptr, pedido);
    } while (estado != IPP_STATE_DATA && estado != IPP_STATE_ERROR);
    Cups().ippDelete(pedido);
    return estado == IPP_STATE_DATA ? bytes : QByteArray();
}

// A job's Print-Job request sent over a connection of its own: pieces of two jobs may be on their way at the same
// time. Null with the reason when it cannot begin.
std::unique_ptr<EnvioCups> Abrir(const QByteArray& recurso, const QByteArray& ipp, QString& motivo,
                                 EnvioCups::AlLeer alLeer = nullptr)
{
    if (ipp.isEmpty()) {
        motivo = QStringLiteral("no se pudo formar el pedido IPP");
        return nullptr;
    }
    const QString servidor = QString::fromUtf8(Cups().cupsServer());
    std::unique_ptr<EnvioCups> envio;
    if (servidor.startsWith(u'/')) {
        auto* socket = new QLocalSocket;
        envio = std::make_unique<EnvioCups>(socket, std::move(alLeer));
        Vigilar(socket, envio.get());
        socket->connectToServer(servidor);
    } else {
        auto* socket = new QTcpSocket;
        envio = std::make_unique<EnvioCups>(socket, std::move(alLeer));
        Vigilar(socket, envio.get());
        socket->connectToHost(servidor, static_cast<quint16>(Cups().ippPort()));
    }
    const QByteArray anfitrion = servidor.startsWith(u'/') ? QByteArray("localhost") : servidor.toUtf8();
    envio->Comenzar("POST " + recurso + " HTTP/1.1\r\nHost: " + anfitrion +
                        "\r\nContent-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n",
                    ipp);
    if (envio->Concluido()) {
        motivo = envio->Motivo();
        return nullptr;
    }
    return envio;
}

// A query's request: the operation, the URI it is about, and the attributes wanted back.
ipp_t* Pedido(ipp_op_t operacion, const char* atributoUri, const QByteArray& uri,
              std::initializer_list<const char*> atributos)
{
    ipp_t* pedido = Cups().ippNewRequest(operacion);
    if (atributoUri != nullptr) {
        Cups().ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_URI, atributoUri, nullptr, uri.constData());
    }
    Cups().ippAddString(pedido, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, Cups().cupsUser());
    const std::vector<const char*> lista(atributos);
    Cups().ippAddStrings(pedido, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                         static_cast<int>(lista.size()), nullptr, lista.data());
    return pedido;
}

// The default a user or the system chose in an lpoptions file ("Default Caja/instancia opciones..."), or empty.
QString PredeterminadaEn(const QString& ruta)
{
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::ReadOnly)) {
        return QString();
    }
    for (const QByteArray& linea : archivo.readAll().split('\n')) {
        const QList<QByteArray> palabras = linea.simplified().split(' ');
        if (palabras.size() >= 2 && palabras[0].toLower() == "default") {
            return QString::fromUtf8(palabras[1].split('/').first());
        }
    }
    return QString();
}

DetalleImpresora DetalleDe(const QString& impresora, ipp_t* r)
{
    DetalleImpresora d;
    d.nombre = impresora;
    switch (Cups().ippGetInteger(Cups().ippFindAttribute(r, "printer-state", IPP_TAG_ENUM), 0)) {
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
        const pwg_media_t* pwg = Cups().pwgMediaForPWG(medio.toUtf8().constData());
        const QString nombre = pwg && pwg->ppd ? QString::fromUtf8(pwg->ppd) : medio;
        if (!d.papeles.contains(nombre)) {
            d.papeles << nombre;
        }
    }
    d.bandejas = Textos(r, "media-source-supported");
    for (const QString& lados : Textos(r, "sides-supported")) {
        d.duplex = d.duplex || lados.startsWith(QLatin1String("two-sided"));
    }
    d.color = Cups().ippGetBoolean(Cups().ippFindAttribute(r, "color-supported", IPP_TAG_BOOLEAN), 0) != 0;
    return d;
}

InfoTrabajo InfoDe(ipp_t* r)
{
    InfoTrabajo info;
    switch (Cups().ippGetInteger(Cups().ippFindAttribute(r, "job-state", IPP_TAG_ENUM), 0)) {
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
    return info;
}

const QString kSinLibCups = QStringLiteral("libcups no está disponible");

class SpoolerCups final : public Spooler
{
public:
    // As CUPS's own clients choose it: LPDEST or PRINTER, then the user's and the system's lpoptions, then the
    // scheduler's default.
    void Predeterminada(AlSaberPredeterminada alSaber) override
    {
        QString nombre = qEnvironmentVariable("LPDEST");
        if (nombre.isEmpty() && qEnvironmentVariable("PRINTER") != QLatin1String("lp")) {
            nombre = qEnvironmentVariable("PRINTER");
        }
        if (nombre.isEmpty()) {
            nombre = PredeterminadaEn(QDir::homePath() + QStringLiteral("/.cups/lpoptions"));
        }
        if (nombre.isEmpty()) {
            const QString raiz = qEnvironmentVariable("CUPS_SERVERROOT", QStringLiteral("/etc/cups"));
            nombre = PredeterminadaEn(raiz + QStringLiteral("/lpoptions"));
        }
        if (!nombre.isEmpty() || !Cups().cargada) {
            alSaber(nombre);
            return;
        }
        Preguntar(Pedido(IPP_OP_CUPS_GET_DEFAULT, nullptr, QByteArray(), {"printer-name"}),
                  [alSaber = std::move(alSaber)](ipp_t* r) {
                      alSaber(r != nullptr ? Textos(r, "printer-name").value(0) : QString());
                  });
    }

    // The queues and classes as CUPS-Get-Printers lists them: the order and names Qt's printer list shows, read
    // without waiting.
    void Impresoras(AlSaberImpresoras alSaber) override
    {
        if (!Cups().cargada) {
            alSaber(QStringList());
            return;
        }
        Preguntar(Pedido(IPP_OP_CUPS_GET_PRINTERS, nullptr, QByteArray(), {"printer-name"}),
                  [alSaber = std::move(alSaber)](ipp_t* r) {
                      QStringList nombres;
                      for (ipp_attribute_t* a = r != nullptr ? Cups().ippFindAttribute(r, "printer-name", IPP_TAG_NAME)
                                                             : nullptr;
                           a != nullptr; a = Cups().ippFindNextAttribute(r, "printer-name", IPP_TAG_NAME)) {
                          nombres << QString::fromUtf8(Cups().ippGetString(a, 0, nullptr));
                      }
                      alSaber(nombres);
                  });
    }

    void Detalle(const QString& impresora, AlSaberDetalle alSaber) override
    {
        if (!Cups().cargada) {
            alSaber(std::nullopt);
            return;
        }
        Preguntar(Pedido(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", UriDe("printers", impresora),
                         {"printer-state", "printer-state-reasons", "media-supported", "media-source-supported",
                          "sides-supported", "color-supported"}),
                  [impresora, alSaber = std::move(alSaber)](ipp_t* r) {
                      alSaber(r != nullptr ? std::optional(DetalleDe(impresora, r)) : std::nullopt);
                  });
    }

    std::unique_ptr<EnvioDirecto> AbrirDirecto(const QString& impresora, const QString& nombreTrabajo,
                                               QString& motivo) override
    {
        if (!Cups().cargada) {
            motivo = kSinLibCups;
            return nullptr;
        }
        return Abrir(Recurso(impresora), PedidoDeTrabajo(impresora, nombreTrabajo, CUPS_FORMAT_RAW), motivo);
    }

    std::unique_ptr<EnvioDirecto> AbrirPDF(const QString& impresora, const QString& nombreTrabajo,
                                           const QStringList& atributos, QString& motivo) override
    {
        if (!Cups().cargada) {
            motivo = kSinLibCups;
            return nullptr;
        }
        return Abrir(Recurso(impresora), PedidoDeTrabajo(impresora, nombreTrabajo, CUPS_FORMAT_PDF, atributos), motivo);
    }

    void Consultar(const QString&, const QString& id, AlSaberTrabajo alSaber) override
    {
        if (!Cups().cargada) {
            alSaber(InfoTrabajo());
            return;
        }
        Preguntar(Pedido(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", UriDe("jobs", id),
                         {"job-state", "job-state-reasons", "job-printer-state-message"}),
                  [alSaber = std::move(alSaber)](ipp_t* r) { alSaber(r != nullptr ? InfoDe(r) : InfoTrabajo()); });
    }

    // CUPS tells every job's id as it accepts it: no job is looked for by its name.
    QString BuscarPorDocumento(const QString&, const QString&) const override { return QString(); }

private:
    static QByteArray Recurso(const QString& impresora) { return "/printers/" + QUrl::toPercentEncoding(impresora); }

    // One request over a connection of its own; `alLeer` gets its answer (null when there is none) once.
    void Preguntar(ipp_t* pedido, EnvioCups::AlLeer alLeer)
    {
        auto pendiente = std::make_shared<EnvioCups::AlLeer>(std::move(alLeer));
        const auto responder = [pendiente](ipp_t* r) {
            if (*pendiente) {
                std::exchange(*pendiente, nullptr)(r);
            }
        };
        QString motivo;
        std::unique_ptr<EnvioCups> envio = Abrir("/", EnBytes(pedido), motivo, responder);
        if (!envio) {
            responder(nullptr);
            return;
        }
        EnvioCups* consulta = envio.get();
        m_consultas.push_back(std::move(envio));
        // Heard as the connection's last act: it may go then.
        consulta->Terminar([this, consulta](const QString&, const QString&) {
            m_consultas.remove_if([consulta](const std::unique_ptr<EnvioCups>& e) { return e.get() == consulta; });
        });
    }

    // Queries waiting for their answers: dropped with the spooler, they never answer.
    std::list<std::unique_ptr<EnvioCups>> m_consultas;
};

// The destinations libcups lists, an instance as "queue/instance", in its order: the list Qt's print support gives,
// without loading Qt's print support (a tenth of the agent's start-up) before the first request.
class ListaCups final : public ListaImpresoras
{
public:
    QStringList Nombres() const override
    {
        QStringList nombres;
        if (!Cups().cargada) {
            return nombres;
        }
        cups_dest_t* destinos = nullptr;
        const int cuantos = Cups().cupsGetDests(&destinos);
        for (int i = 0; i < cuantos; ++i) {
            QString nombre = QString::fromLocal8Bit(destinos[i].name);
            if (destinos[i].instance != nullptr) {
                nombre += u'/' + QString::fromLocal8Bit(destinos[i].instance);
            }
            nombres << nombre;
        }
        Cups().cupsFreeDests(cuantos, destinos);
        return nombres;
    }
};

} // namespace

std::unique_ptr<ListaImpresoras> CrearListaImpresorasDelSistema()
{
    return std::make_unique<ListaCups>();
}

std::unique_ptr<Spooler> CrearSpoolerDelSistema()
{
    return std::make_unique<SpoolerCups>();
}
