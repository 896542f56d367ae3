// The listener and its slots in-process, over real loopback sockets, with short timeouts.
#include "http/protocolo.h"
#include "http/servidor.h"
#include "support/bitacora.h"
#include "support/soporte.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class TstServidor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void connectionBeyondTheLastSlotWaitsItsTurn();
    void quietConnectionsGiveWayToWaitingOnes();
    void timeSpentWaitingCountsAsQuiet();
    void idleAndHalfSentConnectionsAreFreed();
    void slowSendersGiveWayToAFreshRequest_data();
    void slowSendersGiveWayToAFreshRequest();
    void requestPastItsDeadlineIsDropped();
    void peerCloseFreesSlot();
    void requestsAreServedWhileAWeightReadingRuns();
    void printBodyIsReadWhileItArrives_data();
    void printBodyIsReadWhileItArrives();
    void answerForAPeerThatLeftIsReportedAndFreesTheSlot();
    void receivedTextIsLoggedOnOneLine_data();
    void receivedTextIsLoggedOnOneLine();
    void refusalFloodIsSummarised();
    void refusedOrTooLargeIsAnsweredFromItsHead_data();
    void refusedOrTooLargeIsAnsweredFromItsHead();
    void restartKeepsSlotZeroAndDropsTheRest();
    void stopWhenStopped();
    void portTakenReportedBeforeLogged();
    void burstOfConnectionsWaitsInTheBacklog();
    void eventStreamsTakeNoSlotAndOutliveDeadlines();
    void eventStreamsEndWhenTheServerStops();

private:
    // A server of its own, listening, in place of the one `init` started.
    void Arrancar(TiemposServidor tiempos);
    // The same, its schedule read on a clock that moves only when the test moves the value returned.
    std::shared_ptr<qint64> ArrancarConRelojDetenido(TiemposServidor tiempos);
    std::unique_ptr<QTcpSocket> Conectar();
    // Connected and holding a slot: its request's head is in and the slot has asked for the body (only a slot
    // does), which `kCuerpo` completes. Null if that did not happen.
    std::unique_ptr<QTcpSocket> ConectarEnRanura();
    static QByteArray LeerHastaCierre(QTcpSocket& socket);
    static int Cerradas(const std::vector<std::unique_ptr<QTcpSocket>>& sockets);
    bool EnLog(const QString& texto) const;
    // `cuantas` connections in slots, each a weight reading being handled (`conPeso`) or a request whose body has
    // not come; empty if one could not connect or was not taken.
    std::vector<std::unique_ptr<QTcpSocket>> OcuparRanuras(bool conPeso, int cuantas = ServidorWeb::kRanuras);
    // Whether every slot is free: a weight reading taken in each of them (and left pending).
    bool TodasLibres();
    // A GET /balanza/eventos whose answer head has come; null if it did not.
    std::unique_ptr<QTcpSocket> AbrirFlujo(QByteArray& recibido);

    const QStringList& Lineas() const { return m_bitacora->Lineas(); }

    std::unique_ptr<soporte::Bitacora> m_bitacora;
    Configuracion m_cfg;
    Endpoints m_endpoints;
    Responder m_pesoPendiente;
    std::vector<Responder> m_pesosPendientes; // every weight request not answered yet, in order
    // What the print endpoint was handed.
    int m_impresiones = 0;
    bool m_conLector = false;
    qsizetype m_leidosAntes = 0;
    bool m_alVuelo = false;
    QByteArray m_documento;
    std::map<int, std::function<void(const QString&)>> m_oyentes; // the event streams' subscriptions
    int m_proximoOyente = 1;
    std::unique_ptr<ServidorWeb> m_servidor;
};

void TstServidor::init()
{
    m_bitacora = std::make_unique<soporte::Bitacora>();
    m_cfg = Configuracion();
    m_cfg.PuertoHTTP = soporte::PuertoLibre();
    m_cfg.DireccionEscucha = QStringLiteral("127.0.0.1");
    Endpoints endpoints;
    endpoints.estado = [] { return QStringLiteral("vivo"); };
    m_pesosPendientes.clear();
    endpoints.peso = [this](Responder r) {
        m_pesosPendientes.push_back(r);
        m_pesoPendiente = std::move(r);
    };
    m_impresiones = 0;
    endpoints.imprimir = [this](QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, const Responder& r) {
        ++m_impresiones;
        m_conLector = lector != nullptr;
        if (!lector) {
            lector = std::make_unique<LectorBase64JSON>(QByteArrayLiteral("base64"));
        }
        m_leidosAntes = lector->Leidos();
        const std::optional<QJsonObject> objeto = lector->Terminar(std::move(cuerpo));
        m_alVuelo = lector->DecodificadoAlVuelo();
        m_documento.clear();
        if (objeto) {
            lector->TomarBase64(*objeto, m_documento);
        }
        r(QStringLiteral("impreso"));
    };
    m_oyentes.clear();
    endpoints.suscribirBalanza = [this](std::function<void(const QString&)> alCambiar) {
        m_oyentes[m_proximoOyente] = std::move(alCambiar);
        return m_proximoOyente++;
    };
    endpoints.desuscribirBalanza = [this](int id) { QVERIFY(m_oyentes.erase(id) == 1); };
    m_endpoints = endpoints;
    Arrancar({.silencioCabeceraMs = 100, .inactividadMs = 400});
}

void TstServidor::Arrancar(TiemposServidor tiempos)
{
    m_servidor.reset();
    m_servidor = std::make_unique<ServidorWeb>(m_cfg, m_endpoints, std::move(tiempos));
    QVERIFY(m_servidor->IniciarServidor());
}

std::shared_ptr<qint64> TstServidor::ArrancarConRelojDetenido(TiemposServidor tiempos)
{
    auto ahora = std::make_shared<qint64>(1000000);
    tiempos.reloj = [ahora] { return *ahora; };
    Arrancar(std::move(tiempos));
    return ahora;
}

void TstServidor::cleanup()
{
    m_pesoPendiente = nullptr;
    m_pesosPendientes.clear();
    m_servidor.reset();
    m_bitacora.reset();
}

std::unique_ptr<QTcpSocket> TstServidor::Conectar()
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), m_cfg.PuertoHTTP);
    if (!socket->waitForConnected(5000)) {
        return nullptr;
    }
    return socket;
}

static const QByteArray kStatus = "GET /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n";
static const QByteArray kPeso = "GET /pesoBalanza HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n";
static const QByteArray kSinCuerpo = "GET /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: "
                                     "5\r\nExpect: 100-continue\r\n\r\n";
static const QByteArray kCuerpo = "12345";

std::unique_ptr<QTcpSocket> TstServidor::ConectarEnRanura()
{
    auto ocupantes = OcuparRanuras(false, 1);
    return ocupantes.empty() ? nullptr : std::move(ocupantes.front());
}

std::vector<std::unique_ptr<QTcpSocket>> TstServidor::OcuparRanuras(bool conPeso, int cuantas)
{
    static const QByteArray continuar = "HTTP/1.1 100 Continue\r\n\r\n";
    std::vector<std::unique_ptr<QTcpSocket>> ocupantes;
    const std::size_t pesos = m_pesosPendientes.size();
    for (int i = 0; i < cuantas; ++i) {
        auto socket = Conectar();
        if (!socket) {
            return {};
        }
        socket->write(conPeso ? kPeso : kSinCuerpo);
        ocupantes.push_back(std::move(socket));
    }
    const bool tomadas = QTest::qWaitFor(
        [&] {
            return conPeso ? m_pesosPendientes.size() == pesos + cuantas
                           : std::all_of(ocupantes.begin(), ocupantes.end(), [](const auto& socket) {
                                 return socket->bytesAvailable() >= continuar.size();
                             });
        },
        10000);
    for (const auto& socket : ocupantes) {
        if (!tomadas || (!conPeso && socket->read(continuar.size()) != continuar)) {
            return {};
        }
    }
    return ocupantes;
}

bool TstServidor::TodasLibres()
{
    return OcuparRanuras(true).size() == std::size_t(ServidorWeb::kRanuras);
}

int TstServidor::Cerradas(const std::vector<std::unique_ptr<QTcpSocket>>& sockets)
{
    int cerradas = 0;
    for (const auto& socket : sockets) {
        cerradas += socket->state() == QAbstractSocket::UnconnectedState ? 1 : 0;
    }
    return cerradas;
}

QByteArray TstServidor::LeerHastaCierre(QTcpSocket& socket)
{
    QByteArray recibido;
    for (int i = 0; i < 500 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
        QTest::qWait(10);
        recibido += socket.readAll();
    }
    return recibido + socket.readAll();
}

bool TstServidor::EnLog(const QString& texto) const
{
    for (const QString& linea : Lineas()) {
        if (linea.contains(texto)) {
            return true;
        }
    }
    return false;
}

void TstServidor::connectionBeyondTheLastSlotWaitsItsTurn()
{
    Arrancar({.silencioCabeceraMs = 100, .inactividadMs = 60000});
    // Every slot busy with a request being handled (a weight reading each): none of them can give way.
    const auto ocupantes = OcuparRanuras(true);
    QCOMPARE(ocupantes.size(), std::size_t(ServidorWeb::kRanuras));
    QTRY_COMPARE(m_pesosPendientes.size(), std::size_t(ServidorWeb::kRanuras));

    auto ultimo = Conectar();
    QVERIFY(ultimo);
    ultimo->write(kStatus);
    QTest::qWait(300);
    QVERIFY(ultimo->bytesAvailable() == 0);

    m_pesosPendientes[37](QStringLiteral("1.000"));
    QVERIFY(LeerHastaCierre(*ultimo).endsWith("\r\n\r\nvivo"));
    for (std::size_t i = 0; i < m_pesosPendientes.size(); ++i) {
        if (i != 37) {
            m_pesosPendientes[i](QStringLiteral("1.000"));
        }
    }
}

void TstServidor::quietConnectionsGiveWayToWaitingOnes()
{
    Arrancar({.silencioCabeceraMs = 100, .inactividadMs = 60000, .plazoBaseMs = 60000});
    const auto ocupantes = OcuparRanuras(false);
    QCOMPARE(ocupantes.size(), std::size_t(ServidorWeb::kRanuras));
    // Nobody leaves, yet the waiting requests are served: the quietest slot gives way (and each answered request
    // frees its own slot for the next).
    std::vector<std::unique_ptr<QTcpSocket>> esperando;
    for (int i = 0; i < 3; ++i) {
        esperando.push_back(Conectar());
        esperando.back()->write(kStatus);
    }
    for (auto& socket : esperando) {
        QVERIFY(LeerHastaCierre(*socket).endsWith("\r\n\r\nvivo"));
    }
    QTest::qWait(0);
    const int cerrados = Cerradas(ocupantes);
    QVERIFY2(cerrados >= 1 && cerrados < ServidorWeb::kRanuras, qPrintable(QString::number(cerrados)));
}

void TstServidor::timeSpentWaitingCountsAsQuiet()
{
    const auto ahora =
        ArrancarConRelojDetenido({.silencioCabeceraMs = 100, .inactividadMs = 60000, .plazoBaseMs = 60000});
    const auto primeros = OcuparRanuras(false);
    QCOMPARE(primeros.size(), std::size_t(ServidorWeb::kRanuras));
    std::vector<std::unique_ptr<QTcpSocket>> segundos;
    for (int i = 0; i < ServidorWeb::kRanuras; ++i) {
        segundos.push_back(Conectar());
        QVERIFY(segundos.back());
    }
    QTest::qWait(200);
    QCOMPARE(primeros.back()->state(), QAbstractSocket::ConnectedState);

    // Every slot gives way at once, to connections that have sent nothing all the time they waited: each of them
    // takes the slot of one of the first.
    *ahora += 1001;
    QTRY_COMPARE(Cerradas(primeros), ServidorWeb::kRanuras);
    QCOMPARE(Cerradas(segundos), 0);
    // No time has passed since they took their slots, yet a complete request is served: they were quiet for long
    // before, and a flood that keeps reconnecting would otherwise hand every slot a fresh grace at once.
    auto fresca = Conectar();
    fresca->write(kStatus);
    QVERIFY(LeerHastaCierre(*fresca).endsWith("\r\n\r\nvivo"));
}

void TstServidor::idleAndHalfSentConnectionsAreFreed()
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < 5; ++i) {
        sockets.push_back(Conectar());
    }
    sockets[0]->write("POST /x HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 100\r\n\r\nshort");
    // Only a slot ends a connection by time: each was in one, and each is dropped.
    QTRY_COMPARE_WITH_TIMEOUT(Cerradas(sockets), 5, 5000);
    for (auto& socket : sockets) {
        QVERIFY(socket->readAll().isEmpty());
    }
}

void TstServidor::slowSendersGiveWayToAFreshRequest_data()
{
    QTest::addColumn<QByteArray>("inicio");
    QTest::addColumn<QByteArray>("goteo"); // sent every 100 ms, so that none falls quiet
    QTest::newRow("body a byte at a time")
        << QByteArray(
               "POST /print-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 100000\r\n\r\n")
        << QByteArray("x");
    QTest::newRow("head a byte at a time") << QByteArray("GET /status HTTP/1.1\r\n") << QByteArray("X");
    QTest::newRow("idle") << QByteArray() << QByteArray();
}

void TstServidor::slowSendersGiveWayToAFreshRequest()
{
    QFETCH(QByteArray, inicio);
    QFETCH(QByteArray, goteo);
    // Opening 121 connections takes seconds under Wine, long enough for the slow senders to take each other's slots
    // by the schedule's own rules: the schedule moves only when the test says so.
    // No deadline ends a slow sender while the test runs: the fresh request must get its slot by the schedule alone.
    const auto ahora =
        ArrancarConRelojDetenido({.silencioCabeceraMs = 60000, .inactividadMs = 60000, .plazoBaseMs = 120000});
    // More than there are slots: some wait, ahead of the fresh request.
    std::vector<std::unique_ptr<QTcpSocket>> lentos;
    for (int i = 0; i < ServidorWeb::kRanuras + 20; ++i) {
        lentos.push_back(Conectar());
        QVERIFY(lentos.back());
        lentos.back()->write(inicio);
    }
    QTimer gotero;
    connect(&gotero, &QTimer::timeout, this, [&] {
        for (auto& socket : lentos) {
            socket->write(goteo);
        }
    });
    gotero.start(100);
    QTest::qWait(300);
    // Every occupant is now behind the schedule for a complete request, none yet for one still arriving or idle.
    *ahora += 500;

    // The fresh request is served ahead of the slow senders that were waiting before it: it takes the slot of one
    // of them, and none of those waiting takes one the same way.
    auto fresca = Conectar();
    fresca->write(kStatus);
    QTRY_VERIFY_WITH_TIMEOUT(fresca->bytesAvailable() > 0, 15000); // 121 connections are slow to serve under Wine
    QVERIFY(LeerHastaCierre(*fresca).endsWith("\r\n\r\nvivo"));
    QTest::qWait(100);
    QCOMPARE(Cerradas(lentos), 1);
}

void TstServidor::requestPastItsDeadlineIsDropped()
{
    Arrancar({.silencioCabeceraMs = 100, .inactividadMs = 60000, .plazoBaseMs = 300});
    auto socket = Conectar();
    socket->write("POST /x HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 500\r\n\r\n");
    QTimer gotero;
    connect(&gotero, &QTimer::timeout, this, [&] { socket->write("x"); });
    gotero.start(50);
    // Never quiet, yet dropped once its time is up, long before it would have sent its 500 bytes.
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(socket->readAll().isEmpty());
}

void TstServidor::peerCloseFreesSlot()
{
    Arrancar({.silencioCabeceraMs = 100, .inactividadMs = 60000});
    auto socket = Conectar();
    socket->write("POST /x HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 100\r\n\r\nshort");
    QTest::qWait(50);
    socket->disconnectFromHost();
    // What arrived was handled as it stood.
    QTRY_VERIFY(EnLog(QStringLiteral("Solicitud recibida: POST /x HTTP/1.1")));
    QVERIFY(TodasLibres());
}

void TstServidor::requestsAreServedWhileAWeightReadingRuns()
{
    auto peso = Conectar();
    peso->write("GET /pesoBalanza HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n");
    QTRY_VERIFY(m_pesoPendiente);

    auto estado = Conectar();
    estado->write(kStatus);
    QVERIFY(LeerHastaCierre(*estado).endsWith("\r\n\r\nvivo"));
    QCOMPARE(peso->bytesAvailable(), 0);

    m_pesoPendiente(QStringLiteral("1.250"));
    QVERIFY(LeerHastaCierre(*peso).endsWith("Content-Length: 5\r\n\r\n1.250"));
    QVERIFY(EnLog(QStringLiteral("Respuesta enviada: 1.250")));
}

void TstServidor::printBodyIsReadWhileItArrives_data()
{
    QTest::addColumn<QByteArray>("origen");
    QTest::addColumn<QByteArray>("otraCabecera");
    QTest::addColumn<bool>("conLector");
    QTest::addColumn<QByteArray>("otroMiembro");
    QTest::addColumn<bool>("admitida");
    QTest::newRow("page of the domain") << QByteArray("https://app.tornavo.com") << QByteArray("X-A: b") << true
                                        << QByteArray() << true;
    // Not UTF-8 as a whole: the endpoint gets the converted body, which the reader never saw.
    QTest::newRow("Windows-1252 head") << QByteArray("https://app.tornavo.com") << QByteArray("X-A: \xf1") << false
                                       << QByteArray() << true;
    // A host that reads as x.tornavo.com in UTF-8 only (the soft hyphen is dropped): the body must not undo the
    // head's verdict by turning the whole request into Windows-1252.
    QTest::newRow("head UTF-8, body not") << QByteArray("https://x.torna\xc2\xadvo.com") << QByteArray("X-A: b")
                                          << false << QByteArray(",\"nota\":\"\xf1\"") << true;
    QTest::newRow("refused origin") << QByteArray("https://otro.com") << QByteArray("X-A: b") << false << QByteArray()
                                    << false;
}

void TstServidor::printBodyIsReadWhileItArrives()
{
    QFETCH(QByteArray, origen);
    QFETCH(QByteArray, otraCabecera);
    QFETCH(bool, conLector);
    QFETCH(QByteArray, otroMiembro);
    QFETCH(bool, admitida);
    QByteArray documento(600000, Qt::Uninitialized);
    for (qsizetype i = 0; i < documento.size(); ++i) {
        documento[i] = static_cast<char>(i * 31 + i / 997);
    }
    const QByteArray cuerpo =
        "{\"base64\":\"" + documento.toBase64() + "\",\"nombreImpresora\":\"Caja\"" + otroMiembro + "}";
    const qsizetype mitad = cuerpo.size() / 2;
    auto socket = Conectar();
    socket->write("POST /print-base64 HTTP/1.1\r\nOrigin: " + origen + "\r\n" + otraCabecera +
                  "\r\nContent-Length: " + QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo.first(mitad));
    QTest::qWait(100);
    socket->write(cuerpo.sliced(mitad));
    const QByteArray respuesta = LeerHastaCierre(*socket);

    QVERIFY(respuesta.endsWith(admitida ? "\r\n\r\nimpreso" : "\"}"));
    QCOMPARE(m_impresiones, admitida ? 1 : 0);
    if (!admitida) {
        return;
    }
    QCOMPARE(m_conLector, conLector);
    if (conLector) {
        QVERIFY(m_leidosAntes >= mitad);
    }
    QCOMPARE(m_alVuelo, true);
    QVERIFY(m_documento == documento);
}

void TstServidor::answerForAPeerThatLeftIsReportedAndFreesTheSlot()
{
    auto peso = Conectar();
    peso->write("GET /pesoBalanza HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n");
    QTRY_VERIFY(m_pesoPendiente);
    peso->abort();
    QTest::qWait(50);
    m_pesoPendiente(QStringLiteral("1.250"));
    QVERIFY(EnLog(QStringLiteral("? Error: El cliente cerró la conexión")));
    QVERIFY(!EnLog(QStringLiteral("Respuesta enviada: 1.250")));
    QVERIFY(TodasLibres());
}

void TstServidor::receivedTextIsLoggedOnOneLine_data()
{
    QTest::addColumn<QByteArray>("solicitud");
    QTest::addColumn<QStringList>("mensajes");
    const QString falsa = QStringLiteral("[2026-12-08 10:00:00] Respuesta enviada: ok");
    QTest::newRow("LF in the request line")
        << QByteArray(
               "GET /x\n[2026-12-08 10:00:00] Respuesta enviada: ok HTTP/1.1\r\nOrigin: https://o.example\r\n\r\n")
        << QStringList{"Solicitud recibida: GET /x\\u000a" + falsa + " HTTP/1.1",
                       "Origen denegado: https://o.example | MODE: PRO"};
    QTest::newRow("CR in the Origin")
        << QByteArray(
               "GET / HTTP/1.1\r\nOrigin: https://o.example\r[2026-12-08 10:00:00] Respuesta enviada: ok\r\n\r\n")
        << QStringList{"Solicitud recibida: GET / HTTP/1.1",
                       "Origen denegado: https://o.example\\u000d" + falsa + " | MODE: PRO"};
    QTest::newRow("ANSI escape, NEL and U+2028")
        << QByteArray("GET /\x1b[2J\xc2\x85 HTTP/1.1\r\nOrigin: https://o.example\xe2\x80\xa8x\r\n\r\n")
        << QStringList{"Solicitud recibida: GET /\\u001b[2J\\u0085 HTTP/1.1",
                       "Origen denegado: https://o.example\\u2028x | MODE: PRO"};
    QTest::newRow("admitted, LF in the path")
        << QByteArray("GET /a\nb HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n")
        << QStringList{"Solicitud recibida: GET /a\\u000ab HTTP/1.1", "Respuesta enviada: Ruta no válida"};
}

void TstServidor::receivedTextIsLoggedOnOneLine()
{
    QFETCH(QByteArray, solicitud);
    QFETCH(QStringList, mensajes);
    m_bitacora->Limpiar();
    auto socket = Conectar();
    socket->write(solicitud);
    QVERIFY(!LeerHastaCierre(*socket).isEmpty());
    QTRY_COMPARE(m_bitacora->Mensajes(), mensajes);
}

void TstServidor::refusalFloodIsSummarised()
{
    constexpr int kSolicitudes = 3 * ManejadorSolicitudes::kRechazosPorSegundo;
    m_bitacora->Limpiar();
    for (int i = 0; i < kSolicitudes; ++i) {
        auto socket = Conectar();
        socket->write("GET /status HTTP/1.1\r\nOrigin: https://otro.example\r\n\r\n");
        QVERIFY(LeerHastaCierre(*socket) == Respuesta403());
    }
    const QRegularExpression resumen(QStringLiteral("... (\\d+) solicitudes más rechazadas de https://otro.example$"));
    const auto completas = [this] {
        return m_bitacora->Mensajes().filter(QStringLiteral("Origen denegado: https://otro.example | MODE: ")).size();
    };
    // Every refusal is either logged in full or counted in a summary; a second's summary is written once that
    // second is over, and a slow machine spreads the requests over several.
    const auto contadas = [&] {
        qsizetype total = completas();
        for (const QString& mensaje : m_bitacora->Mensajes()) {
            const QRegularExpressionMatch coincide = resumen.match(mensaje);
            total += coincide.hasMatch() ? coincide.captured(1).toInt() : 0;
        }
        return total;
    };
    QTRY_COMPARE_WITH_TIMEOUT(contadas(), qsizetype(kSolicitudes), 5000);
    QVERIFY(!m_bitacora->Mensajes().filter(resumen).isEmpty());
    QVERIFY(completas() < kSolicitudes);
    QCOMPARE(m_bitacora->Mensajes().filter(QStringLiteral("Solicitud recibida: GET /status")).size(), completas());
}

void TstServidor::refusedOrTooLargeIsAnsweredFromItsHead_data()
{
    QTest::addColumn<QByteArray>("cabecera");
    QTest::addColumn<QByteArray>("respuesta");
    const QByteArray ajeno = "POST /print-base64 HTTP/1.1\r\nOrigin: https://otro.example\r\nContent-Length: 20000000";
    QTest::newRow("refused, waits for 100 Continue") << ajeno + "\r\nExpect: 100-continue" << Respuesta403();
    QTest::newRow("refused, body on its way") << ajeno << Respuesta403();
    QTest::newRow("refused, head without its end")
        << "GET /status HTTP/1.1\r\nOrigin: https://otro.example\r\nX: " + QByteArray(100000, 'a') << Respuesta403();
    QTest::newRow("refused event stream")
        << QByteArray("GET /balanza/eventos HTTP/1.1\r\nOrigin: https://otro.example\r\nX: ") + QByteArray(1000, 'a')
        << Respuesta403();
    QTest::newRow("too large")
        << QByteArray("POST /print-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 99999999")
        << Respuesta413();
}

void TstServidor::refusedOrTooLargeIsAnsweredFromItsHead()
{
    QFETCH(QByteArray, cabecera);
    QFETCH(QByteArray, respuesta);
    Arrancar({.silencioCabeceraMs = 60000, .inactividadMs = 2000});
    // Every slot but one busy with a request being handled, none of which gives way.
    const auto ocupantes = OcuparRanuras(true, ServidorWeb::kRanuras - 1);
    QVERIFY(!ocupantes.empty());
    auto socket = Conectar();
    const bool conFin = cabecera.contains("Content-Length");
    socket->write(cabecera + (conFin ? "\r\n\r\n" : ""));
    // The client goes on uploading, as a browser or curl does, and must still read the whole answer.
    const QByteArray trozo(64 * 1024, conFin ? 'A' : 'a');
    QByteArray recibido;
    for (int i = 0; i < 40 && !recibido.endsWith(respuesta.sliced(respuesta.indexOf("\r\n\r\n"))); ++i) {
        socket->write(trozo);
        QTest::qWait(10);
        recibido += socket->readAll();
    }
    QCOMPARE(recibido, respuesta);
    // The answered request holds no slot while the rest of its upload is dropped.
    auto otra = Conectar();
    otra->write(kStatus);
    QVERIFY(LeerHastaCierre(*otra).endsWith("\r\n\r\nvivo"));
    QCOMPARE(m_impresiones, 0);
    QVERIFY(m_oyentes.empty());
    if (respuesta == Respuesta403()) {
        QCOMPARE(m_bitacora->Mensajes().filter(QStringLiteral("Origen denegado: https://otro.example | MODE: ")).size(),
                 1);
    }
    // The rest of the upload is taken and dropped, not reset: a reset can cost the client the answer it has not
    // read yet. The connection ends after a while.
    socket->write(QByteArray(1024 * 1024, 'A'));
    QTest::qWait(200);
    QCOMPARE(socket->error(), QAbstractSocket::UnknownSocketError);
    QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 5000);
}

void TstServidor::restartKeepsSlotZeroAndDropsTheRest()
{
    Arrancar({.silencioCabeceraMs = 60000, .inactividadMs = 60000, .plazoBaseMs = 60000});
    // The lowest free slot is taken: the first connection's, then the next one's, and after the first is answered,
    // slot 0 again.
    auto primera = ConectarEnRanura();
    QVERIFY(primera);
    auto uno = ConectarEnRanura();
    QVERIFY(uno);
    primera->write(kCuerpo);
    QVERIFY(LeerHastaCierre(*primera).endsWith("\r\n\r\nvivo"));
    auto cero = ConectarEnRanura();
    QVERIFY(cero);

    m_bitacora->Limpiar();
    m_servidor->DetenerServidor();
    QVERIFY(m_servidor->IniciarServidor());
    QCOMPARE(Lineas().size(), 2);
    QVERIFY(Lineas()[0].endsWith(QLatin1String("] ?? Servidor detenido correctamente.")));
    QVERIFY(Lineas()[1].contains(
        QStringLiteral("] ?? Servidor iniciado en IP: 127.0.0.1 | Puerto: %1").arg(m_cfg.PuertoHTTP)));

    QTRY_COMPARE(uno->state(), QAbstractSocket::UnconnectedState);
    cero->write(kCuerpo);
    QVERIFY(LeerHastaCierre(*cero).endsWith("\r\n\r\nvivo"));
    auto nuevo = Conectar();
    nuevo->write(kStatus);
    QVERIFY(LeerHastaCierre(*nuevo).endsWith("\r\n\r\nvivo"));
}

void TstServidor::stopWhenStopped()
{
    m_servidor->DetenerServidor();
    m_bitacora->Limpiar();
    m_servidor->DetenerServidor();
    QCOMPARE(Lineas().size(), 1);
    QVERIFY(Lineas()[0].endsWith(QLatin1String("] ?? Servidor ya estaba detenido.")));
    QVERIFY(!m_servidor->Escuchando());
}

void TstServidor::portTakenReportedBeforeLogged()
{
    m_servidor->DetenerServidor();
    QTcpServer otro;
    QVERIFY(otro.listen(QHostAddress::LocalHost, m_cfg.PuertoHTTP));
    m_bitacora->Limpiar();
    // Whoever tells the user hears of it before the log line is written.
    QStringList informado;
    connect(m_servidor.get(), &ServidorWeb::falloAlIniciar, this,
            [&](const QString& descripcion) { informado << QString::number(Lineas().size()) + u' ' + descripcion; });
    QVERIFY(!m_servidor->IniciarServidor());
    QCOMPARE(informado.size(), 1);
    QVERIFY(informado[0].startsWith(QLatin1String("0 ")) && informado[0].size() > 2);
    QCOMPARE(Lineas().size(), 1);
    QVERIFY(Lineas()[0].endsWith(informado[0].mid(2)));
    QVERIFY(Lineas()[0].contains(QLatin1String("] ? Error al iniciar el servidor Web: ")));
    QVERIFY(Lineas()[0].size() > Lineas()[0].indexOf(QLatin1String("Web: ")) + 5);
    QVERIFY(!m_servidor->Escuchando());
}

void TstServidor::burstOfConnectionsWaitsInTheBacklog()
{
    QFile maximo(QStringLiteral("/proc/sys/net/core/somaxconn"));
    if (maximo.open(QIODevice::ReadOnly) && maximo.readAll().trimmed().toInt() < 256) {
        QSKIP("the system allows a short backlog only");
    }
    // The agent takes none of them while this runs: they all wait in the kernel's queue, or are left to retry.
    constexpr int kConexiones = 200;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < kConexiones; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QHostAddress(QHostAddress::LocalHost), m_cfg.PuertoHTTP);
    }
    int conectadas = 0;
    for (auto& socket : sockets) {
        conectadas += socket->waitForConnected(20) ? 1 : 0;
    }
    QCOMPARE(conectadas, kConexiones);
}

QTEST_GUILESS_MAIN(TstServidor)
#include "tst_servidor.moc"

std::unique_ptr<QTcpSocket> TstServidor::AbrirFlujo(QByteArray& recibido)
{
    auto socket = Conectar();
    if (!socket) {
        return nullptr;
    }
    socket->write("GET /balanza/eventos HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n");
    const bool abierto = QTest::qWaitFor(
        [&] {
            recibido += socket->readAll();
            return recibido.contains("\r\n\r\n");
        },
        5000);
    return abierto ? std::move(socket) : nullptr;
}

void TstServidor::eventStreamsTakeNoSlotAndOutliveDeadlines()
{
    Arrancar({.silencioCabeceraMs = 100, .inactividadMs = 300, .plazoBaseMs = 300, .comentarioFlujoMs = 150});
    QByteArray recibido;
    auto flujo = AbrirFlujo(recibido);
    QVERIFY(flujo);
    const QByteArray cabecera = recibido.left(recibido.indexOf("\r\n\r\n") + 2);
    QVERIFY2(cabecera.startsWith("HTTP/1.1 200 OK\r\n"), cabecera.constData());
    QVERIFY(cabecera.contains("\r\nContent-Type: text/event-stream\r\n"));
    QVERIFY(cabecera.contains("\r\nCache-Control: no-cache\r\n"));
    QVERIFY(cabecera.contains("\r\nAccess-Control-Allow-Origin: *\r\n"));
    QVERIFY(!cabecera.contains("Content-Length"));
    QTRY_COMPARE(m_oyentes.size(), std::size_t(1));

    // Each change is one event; a document of several lines stays one event.
    const qsizetype lineasAntes = Lineas().size();
    m_oyentes.begin()->second(QStringLiteral("{\"peso\":\"1.250\"}"));
    m_oyentes.begin()->second(QStringLiteral("{\n\"peso\":\"1.300\"}"));
    QTRY_VERIFY((recibido += flujo->readAll())
                    .contains("\n\ndata: {\"peso\":\"1.250\"}\n\ndata: {\ndata: \"peso\":\"1.300\"}\n\n"));
    QCOMPARE(Lineas().size(), lineasAntes);

    // Long past the request deadline and the idle time, kept open by comment lines, and holding no slot.
    QTest::qWait(1000);
    recibido += flujo->readAll();
    QCOMPARE(flujo->state(), QAbstractSocket::ConnectedState);
    QVERIFY2(recibido.count(":\n\n") >= 3, recibido.constData());
    QVERIFY(TodasLibres());
    QCOMPARE(flujo->state(), QAbstractSocket::ConnectedState);

    QCOMPARE(m_bitacora->Mensajes().filter(QStringLiteral("Flujo de la balanza abierto")).size(), 1);
}

void TstServidor::eventStreamsEndWhenTheServerStops()
{
    QByteArray recibido;
    auto flujo = AbrirFlujo(recibido);
    QVERIFY(flujo);
    QTRY_COMPARE(m_oyentes.size(), std::size_t(1));
    m_servidor->DetenerServidor();
    QVERIFY(m_oyentes.empty());
    QTRY_COMPARE(flujo->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(EnLog(QStringLiteral("Flujo de la balanza cerrado: el servidor se detiene")));
}
