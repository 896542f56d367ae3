// The real agent over raw TCP: exact answer bytes, the route table, origins and start-up.
#include "support/agente_prueba.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

using soporte::AgenteDePrueba;
using soporte::RespuestaHttp;

namespace {

const QByteArray k403 = "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nAccess-Control-Allow-Origin: *\r\n"
                        "Content-Length: 54\r\n\r\n{\"error\":\"Acceso denegado desde origen no autorizado\"}";
const QByteArray k204 =
    "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\n"
    "Access-Control-Max-Age: 86400\r\n\r\n";

QByteArray Framed200(const QByteArray& cuerpo)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: " +
           QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo;
}

} // namespace

class E2eNucleo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void statusFramedExactlyAndLogged();
    void refusalAndPreflightBytes();
    void routeTable_data();
    void routeTable();
    void origins_data();
    void origins();
    void malformedRequestLineGetsNoAnswer();
    void headWithoutBlankLineIsAnsweredAfterQuiet();
    void bodyInPiecesIsGatheredBeforeAnswering();
    void tooLargeIsRefusedWith413();
    void expectContinueIsHonoured();
    void devModeInLowerCaseIsNotDev();
    void missingConfigEndsWithMessage();
    void badNumberInConfigEndsBeforeListening_data();
    void badNumberInConfigEndsBeforeListening();
    void secondInstanceEndsSilently();

private:
    AgenteDePrueba m_agente;
};

void E2eNucleo::initTestCase()
{
    m_agente.Configurar(QStringLiteral("Comportamiento=PORPETICION\r\nMODE=DEV\r\nProtocoloBalanza=Kretz\r\n"));
    QVERIFY(m_agente.Iniciar());
}

void E2eNucleo::cleanupTestCase()
{
    m_agente.Detener();
}

void E2eNucleo::statusFramedExactlyAndLogged()
{
    const RespuestaHttp respuesta = m_agente.Get(QStringLiteral("/status"));
    QCOMPARE(respuesta.bruta, Framed200(respuesta.cuerpo));
    const QString patron =
        QStringLiteral(R"re(^\{"status":"ok","version":"\d+\.\d+\.\d+\.\d+","servidor":"Tornavo","MODE":"DEV",)re") +
        QStringLiteral(R"re("hora":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","uptime":"\d+d \d\d:\d\d:\d\d",)re") +
        QStringLiteral(R"re("puerto":"(\d+)","protocolo_balanza":"Kretz","puerto_balanza":"3"\}$)re");
    const QRegularExpression forma(patron);
    const auto encaje = forma.match(QString::fromUtf8(respuesta.cuerpo));
    QVERIFY2(encaje.hasMatch(), respuesta.cuerpo.constData());
    QCOMPARE(encaje.captured(1).toUShort(), m_agente.Puerto());

    // In the file by the time the answer arrives, without waiting.
    const QStringList lineas = m_agente.LineasLog();
    QVERIFY(!lineas.isEmpty());
    QVERIFY(lineas.last().endsWith(QStringLiteral("] Respuesta enviada: ") + QString::fromUtf8(respuesta.cuerpo)));
    const QRegularExpression sello(QStringLiteral(R"re(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )re"));
    for (const QString& linea : lineas) {
        QVERIFY2(sello.match(linea).hasMatch(), qPrintable(linea));
    }
    const qsizetype enviada =
        lineas.indexOf(QRegularExpression(QStringLiteral(".*Respuesta enviada: \\{\"status\".*")));
    QVERIFY(enviada > 0);
    QVERIFY(lineas[enviada - 1].endsWith(QLatin1String("] Solicitud recibida: GET /status HTTP/1.1")));
}

void E2eNucleo::refusalAndPreflightBytes()
{
    QCOMPARE(m_agente.Get(QStringLiteral("/status"), QByteArray()).bruta, k403);
    QVERIFY(m_agente.EsperarLineaLog(QStringLiteral("] Origen denegado:  | MODE: DEV")));

    const QByteArray preflight = "OPTIONS /print-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n"
                                 "Access-Control-Request-Method: POST\r\n\r\n";
    QCOMPARE(m_agente.Solicitar(preflight).bruta, k204);

    const QByteArray privada = "OPTIONS /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n"
                               "Access-Control-Request-Private-Network: true\r\n\r\n";
    QCOMPARE(m_agente.Solicitar(privada).bruta, k204.chopped(2) + "Access-Control-Allow-Private-Network: true\r\n\r\n");

    // The origin check comes first, even for a preflight.
    QCOMPARE(m_agente.Solicitar("OPTIONS /print-base64 HTTP/1.1\r\nOrigin: https://evil.example\r\n\r\n").bruta, k403);
}

void E2eNucleo::routeTable_data()
{
    QTest::addColumn<QByteArray>("lineaSolicitud");
    QTest::addColumn<QByteArray>("cuerpoEsperado"); // empty: the status document

    const QByteArray noValida = "Ruta no v\xc3\xa1lida";
    const QByteArray fallback = "{\"success\":false,\"error\":\"M\xc3\xa9todo o ruta no v\xc3\xa1lida\"}";
    QTest::newRow("unknown GET") << QByteArray("GET /nada HTTP/1.1") << noValida;
    QTest::newRow("empty path") << QByteArray("GET / HTTP/1.1") << noValida;
    QTest::newRow("trailing slash removed") << QByteArray("GET /status/ HTTP/1.1") << QByteArray();
    QTest::newRow("two trailing slashes") << QByteArray("GET /status// HTTP/1.1") << noValida;
    QTest::newRow("query string is part of the path") << QByteArray("GET /status?x=1 HTTP/1.1") << noValida;
    QTest::newRow("method upper-cased") << QByteArray("get /status HTTP/1.1") << QByteArray();
    QTest::newRow("path is case-sensitive") << QByteArray("GET /STATUS HTTP/1.1") << noValida;
    QTest::newRow("GET to a POST route") << QByteArray("GET /print-base64 HTTP/1.1") << noValida;
    QTest::newRow("DELETE") << QByteArray("DELETE /status HTTP/1.1") << fallback;
    QTest::newRow("POST to a GET route") << QByteArray("POST /status HTTP/1.1") << fallback;
    QTest::newRow("lower-case options is no preflight") << QByteArray("options / HTTP/1.1") << fallback;
    QTest::newRow("HEAD") << QByteArray("HEAD /status HTTP/1.1") << fallback;
}

void E2eNucleo::routeTable()
{
    QFETCH(QByteArray, lineaSolicitud);
    QFETCH(QByteArray, cuerpoEsperado);
    const RespuestaHttp respuesta = m_agente.Solicitar(lineaSolicitud + "\r\nOrigin: https://app.tornavo.com\r\n\r\n");
    if (cuerpoEsperado.isEmpty()) {
        QVERIFY(respuesta.cuerpo.startsWith("{\"status\":\"ok\""));
    } else {
        // Content-Length counts the UTF-8 bytes: "Ruta no válida" is 15.
        QCOMPARE(respuesta.bruta, Framed200(cuerpoEsperado));
    }
}

void E2eNucleo::origins_data()
{
    QTest::addColumn<QByteArray>("cabeceras");
    QTest::addColumn<int>("estado");

    QTest::newRow("subdomain over https") << QByteArray("Origin: https://app.tornavo.com") << 200;
    QTest::newRow("subdomain with port") << QByteArray("Origin: http://caja.tornavo.com:8080") << 200;
    QTest::newRow("capitals") << QByteArray("ORIGIN: HTTPS://APP.TORNAVO.COM") << 200;
    QTest::newRow("bare domain") << QByteArray("Origin: https://tornavo.com") << 403;
    QTest::newRow("suffix forgery") << QByteArray("Origin: https://app.tornavo.com.attacker.example") << 403;
    QTest::newRow("look-alike domain") << QByteArray("Origin: https://eviltornavo.com") << 403;
    QTest::newRow("path forgery in referer") << QByteArray("Referer: https://attacker.example/.tornavo.com/x") << 403;
    QTest::newRow("referer alone admits") << QByteArray("Referer: https://app.tornavo.com/ventas?x=1") << 200;
    QTest::newRow("null origin, good referer")
        << QByteArray("Origin: null\r\nReferer: https://app.tornavo.com/") << 200;
    QTest::newRow("first of two origins wins")
        << QByteArray("Origin: https://evil.example\r\nOrigin: https://app.tornavo.com") << 403;
    QTest::newRow("localhost in DEV") << QByteArray("Origin: http://localhost:5173") << 200;
    QTest::newRow("localhost look-alike") << QByteArray("Origin: http://localhost.attacker.example") << 403;
    QTest::newRow("ftp scheme") << QByteArray("Origin: ftp://app.tornavo.com") << 403;
}

void E2eNucleo::origins()
{
    QFETCH(QByteArray, cabeceras);
    QFETCH(int, estado);
    QCOMPARE(m_agente.Solicitar("GET /status HTTP/1.1\r\n" + cabeceras + "\r\n\r\n").estado, estado);
}

void E2eNucleo::malformedRequestLineGetsNoAnswer()
{
    const RespuestaHttp respuesta = m_agente.Solicitar("GET /status\r\nOrigin: https://app.tornavo.com\r\n\r\n");
    QVERIFY(respuesta.bruta.isEmpty());
    QVERIFY(m_agente.EsperarLineaLog(QStringLiteral("] ? Error: ")));
}

void E2eNucleo::headWithoutBlankLineIsAnsweredAfterQuiet()
{
    // LF-only lines are one line to the header reader: no Origin is found, so the answer is a refusal.
    QCOMPARE(m_agente.Solicitar("GET /status HTTP/1.1\nOrigin: https://app.tornavo.com\n\n").bruta, k403);
}

void E2eNucleo::bodyInPiecesIsGatheredBeforeAnswering()
{
    const int largo = 5 * 1024 * 1024;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_agente.Puerto());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST /otra HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: " +
                 QByteArray::number(largo) + "\r\n\r\n");
    const QByteArray trozo(1024, 'A');
    for (int enviados = 0; enviados < largo; enviados += trozo.size()) {
        socket.write(trozo);
        socket.waitForBytesWritten(5000);
        if (enviados % (512 * 1024) == 0) {
            // A pause long enough for the agent to see the request as it stands so far.
            QVERIFY2(!socket.waitForReadyRead(100), "answered before the body was complete");
        }
    }
    QVERIFY(socket.waitForReadyRead(15000));
    QByteArray recibido = socket.readAll();
    while (socket.waitForReadyRead(2000)) {
        recibido += socket.readAll();
    }
    QCOMPARE(recibido, Framed200("{\"success\":false,\"error\":\"M\xc3\xa9todo o ruta no v\xc3\xa1lida\"}"));
}

void E2eNucleo::tooLargeIsRefusedWith413()
{
    const RespuestaHttp respuesta = m_agente.Solicitar(
        "POST /print-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 67108865\r\n\r\n");
    const QByteArray cuerpo = "{\"success\":false,\"error\":\"Solicitud demasiado grande\"}";
    QCOMPARE(respuesta.bruta, "HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\n"
                              "Access-Control-Allow-Origin: *\r\nContent-Length: " +
                                  QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo);
    QVERIFY(m_agente.EsperarLineaLog(QStringLiteral("] ? Solicitud demasiado grande")));
    // The agent goes on serving.
    QCOMPARE(m_agente.Get(QStringLiteral("/status")).estado, 200);
}

void E2eNucleo::expectContinueIsHonoured()
{
    // curl asks before sending a large body and waits a second for the go-ahead if none comes.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_agente.Puerto());
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray cuerpo = "{\"x\":1}";
    socket.write("POST /otra HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nExpect: 100-continue\r\nContent-Length: " +
                 QByteArray::number(cuerpo.size()) + "\r\n\r\n");
    QByteArray recibido;
    while (!recibido.contains("\r\n\r\n") && socket.waitForReadyRead(5000)) {
        recibido += socket.readAll();
    }
    QCOMPARE(recibido, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
    socket.write(cuerpo);
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000)) {
        recibido += socket.readAll();
    }
    recibido += socket.readAll();
    QCOMPARE(recibido, "HTTP/1.1 100 Continue\r\n\r\n" +
                           Framed200("{\"success\":false,\"error\":\"M\xc3\xa9todo o ruta no v\xc3\xa1lida\"}"));
}

void E2eNucleo::devModeInLowerCaseIsNotDev()
{
    AgenteDePrueba agente;
    agente.Configurar(QStringLiteral("Comportamiento=x\r\nMODE=dev\r\n"));
    QVERIFY(agente.Iniciar());
    QCOMPARE(agente.Get(QStringLiteral("/status"), "http://localhost:3000").estado, 403);
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] Origen denegado: http://localhost:3000 | MODE: dev")));
    QCOMPARE(agente.Get(QStringLiteral("/status"), "https://app.tornavo.com").estado, 200);
}

void E2eNucleo::missingConfigEndsWithMessage()
{
    AgenteDePrueba agente;
    QCOMPARE(agente.EjecutarHastaFin(), 1);
    const QStringList lineas = agente.LineasLog();
    QCOMPARE(lineas.size(), 1);
    QVERIFY(lineas.first().endsWith(QStringLiteral("] No se encontró el archivo de configuración.")));
    QVERIFY(agente.SalidaDeError().contains("No se encontró el archivo de configuración."));
    QTcpSocket sonda;
    sonda.connectToHost(QStringLiteral("127.0.0.1"), agente.Puerto());
    QVERIFY(!sonda.waitForConnected(500));
}

void E2eNucleo::badNumberInConfigEndsBeforeListening_data()
{
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QString>("clave");
    QTest::newRow("port not a number") << QStringLiteral("PortBalanza=tres") << QStringLiteral("PortBalanza");
    QTest::newRow("port out of range") << QStringLiteral("PortBalanza=40000") << QStringLiteral("PortBalanza");
    QTest::newRow("attempts empty") << QStringLiteral("Intentos=") << QStringLiteral("Intentos");
    QTest::newRow("attempts with decimals") << QStringLiteral("Intentos=2.5") << QStringLiteral("Intentos");
}

void E2eNucleo::badNumberInConfigEndsBeforeListening()
{
    QFETCH(QString, linea);
    QFETCH(QString, clave);
    AgenteDePrueba agente;
    agente.Configurar(linea + QStringLiteral("\r\n"));
    QCOMPARE(agente.EjecutarHastaFin(), 1);
    const QStringList lineas = agente.LineasLog();
    QCOMPARE(lineas.size(), 1);
    QVERIFY2(lineas.first().contains(clave) && lineas.first().contains(linea.section(u'=', 1)),
             qPrintable(lineas.first()));
    QVERIFY(agente.SalidaDeError().contains(clave.toUtf8()));
}

void E2eNucleo::secondInstanceEndsSilently()
{
    AgenteDePrueba segundo;
    // Same HTTP port as the running agent, different folder.
    segundo.ConfigurarTexto(QStringLiteral("[Configuracion]\r\nPuertoHTTP=%1\r\n").arg(m_agente.Puerto()).toUtf8());
    QCOMPARE(segundo.EjecutarHastaFin(), 0);
    QVERIFY(segundo.LineasLog().isEmpty());
    QVERIFY(segundo.SalidaDeError().isEmpty());
    QCOMPARE(m_agente.Get(QStringLiteral("/status")).estado, 200);
}

QTEST_GUILESS_MAIN(E2eNucleo)
#include "e2e_nucleo.moc"
