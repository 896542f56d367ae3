// The pure pieces of the HTTP service: gathering, header lookup, origin check, request line, framing, routes and
// the status document.
#include "http/ensamblador.h"
#include "http/estado.h"
#include "http/protocolo.h"
#include "http/rutas.h"

#include <QTest>

using Estado = EnsambladorSolicitud::Estado;
Q_DECLARE_METATYPE(EnsambladorSolicitud::Estado)

class TstProtocolo : public QObject
{
    Q_OBJECT

private slots:
    void gatheringByteAtATime_data();
    void gatheringByteAtATime();
    void gatheringAfterPeerEndOrQuiet_data();
    void gatheringAfterPeerEndOrQuiet();
    void gatheringLimit();
    void declaredLength_data();
    void declaredLength();

    void headerLookup_data();
    void headerLookup();
    void originPolicy_data();
    void originPolicy();
    void requestLine_data();
    void requestLine();
    void summaryAndSplit();
    void framing();

    void routes_data();
    void routes();
    void weightRouteAnswersLater();

    void uptimeText_data();
    void uptimeText();
    void statusDocument();
};

void TstProtocolo::gatheringByteAtATime_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("completaEn"); // number of bytes after which it is complete; -1: never

    const QByteArray get = "GET /status HTTP/1.1\r\nOrigin: https://a.tornavo.com\r\n\r\n";
    QTest::newRow("GET without body") << get << int(get.size());
    const QByteArray post = "POST /x HTTP/1.1\r\ncontent-LENGTH:  5 \r\n\r\nhello";
    QTest::newRow("POST with its body") << post << int(post.size());
    QTest::newRow("body still short") << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 6\r\n\r\nhello") << -1;
    QTest::newRow("LF-only head never completes by itself") << QByteArray("GET / HTTP/1.1\n\n") << -1;
    QTest::newRow("bad length means no body")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 5x\r\n\r\n")
        << int(QByteArray("POST /x HTTP/1.1\r\nContent-Length: 5x\r\n\r\n").size());
    QTest::newRow("length in the body does not count")
        << QByteArray("GET / HTTP/1.1\r\n\r\nContent-Length: 99\r\n") << 18;
}

void TstProtocolo::gatheringByteAtATime()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, completaEn);
    EnsambladorSolicitud ensamblador;
    int completa = -1;
    for (int i = 0; i < bytes.size(); ++i) {
        if (ensamblador.Agregar(bytes.mid(i, 1)) == Estado::Completa) {
            completa = i + 1;
            break;
        }
    }
    QCOMPARE(completa, completaEn);
    if (completa > 0) {
        QCOMPARE(ensamblador.Datos(), bytes.left(completa));
    }
}

void TstProtocolo::gatheringAfterPeerEndOrQuiet_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Estado>("alSilencio");
    QTest::addColumn<Estado>("alFinDelPar");
    QTest::newRow("nothing") << QByteArray() << Estado::Incompleta << Estado::Incompleta;
    QTest::newRow("head without blank line")
        << QByteArray("GET /status HTTP/1.1\r\nOrigin: x") << Estado::Completa << Estado::Completa;
    QTest::newRow("short body waits out a quiet spell")
        << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc") << Estado::Incompleta << Estado::Completa;
}

void TstProtocolo::gatheringAfterPeerEndOrQuiet()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Estado, alSilencio);
    QFETCH(Estado, alFinDelPar);
    EnsambladorSolicitud ensamblador;
    if (!bytes.isEmpty()) {
        QCOMPARE(ensamblador.Agregar(bytes), Estado::Incompleta);
    }
    QCOMPARE(ensamblador.Silencio(), alSilencio);
    QCOMPARE(ensamblador.FinDelPar(), alFinDelPar);
    QCOMPARE(ensamblador.Datos(), bytes);
}

void TstProtocolo::gatheringLimit()
{
    EnsambladorSolicitud ensamblador(100);
    QCOMPARE(ensamblador.Agregar("POST /x HTTP/1.1\r\nContent-Length: 83\r\n\r\n"), Estado::DemasiadoGrande);

    EnsambladorSolicitud exacto(100);
    const QByteArray cabeza = "POST /x HTTP/1.1\r\nContent-Length: 60\r\n\r\n"; // 40 bytes: 100 in all
    QCOMPARE(exacto.Agregar(cabeza), Estado::Incompleta);
    QCOMPARE(exacto.Agregar(QByteArray(60, 'x')), Estado::Completa);

    EnsambladorSolicitud sinFin(100);
    QCOMPARE(sinFin.Agregar(QByteArray(100, 'x')), Estado::Incompleta);
    QCOMPARE(sinFin.Agregar("y"), Estado::DemasiadoGrande);
    QCOMPARE(sinFin.Datos().size(), 100); // nothing past the limit is kept
}

void TstProtocolo::declaredLength_data()
{
    QTest::addColumn<QByteArray>("cabecera");
    QTest::addColumn<qint64>("largo");
    QTest::newRow("absent") << QByteArray("POST / HTTP/1.1\r\nHost: x") << qint64(-1);
    QTest::newRow("plain") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 42") << qint64(42);
    QTest::newRow("negative") << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1") << qint64(-1);
    QTest::newRow("absurd") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999") << qint64(-1);
    QTest::newRow("empty") << QByteArray("POST / HTTP/1.1\r\nContent-Length:") << qint64(-1);
    QTest::newRow("first wins") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2") << qint64(1);
}

void TstProtocolo::declaredLength()
{
    QFETCH(QByteArray, cabecera);
    QFETCH(qint64, largo);
    QCOMPARE(EnsambladorSolicitud::LargoDeclarado(cabecera), largo);
}

void TstProtocolo::headerLookup_data()
{
    QTest::addColumn<QString>("cabecera");
    QTest::addColumn<QString>("valor");
    QTest::newRow("plain") << "GET / HTTP/1.1\r\nOrigin: http://localhost"
                           << "http://localhost";
    QTest::newRow("any case") << "GET / HTTP/1.1\r\nORIGIN: x"
                              << "x";
    QTest::newRow("no space after colon") << "GET / HTTP/1.1\r\nOrigin:http://localhost"
                                          << "http://localhost";
    QTest::newRow("space before colon") << "GET / HTTP/1.1\r\nOrigin : http://localhost"
                                        << ": http://localhost";
    QTest::newRow("first line wins") << "GET / HTTP/1.1\r\nOrigin: a\r\nOrigin: b"
                                     << "a";
    QTest::newRow("tabs kept") << "GET / HTTP/1.1\r\nOrigin:\tx\t "
                               << "\tx\t";
    QTest::newRow("absent") << "GET / HTTP/1.1\r\nHost: x"
                            << "";
    QTest::newRow("LF-only head is one line") << "GET / HTTP/1.1\nOrigin: x"
                                              << "";
    QTest::newRow("name alone") << "GET / HTTP/1.1\r\nOrigin"
                                << "";
}

void TstProtocolo::headerLookup()
{
    QFETCH(QString, cabecera);
    QFETCH(QString, valor);
    QCOMPARE(ValorCabecera(cabecera, QStringLiteral("Origin")), valor);
}

void TstProtocolo::originPolicy_data()
{
    QTest::addColumn<QString>("cabeceras");
    QTest::addColumn<QString>("modo");
    QTest::addColumn<bool>("admitida");

    QTest::newRow("no headers") << ""
                                << "DEV" << false;
    QTest::newRow("subdomain") << "Origin: https://app.tornavo.com"
                               << "PRO" << true;
    QTest::newRow("deep subdomain, port, path") << "Origin: http://a.b.tornavo.com:81/x"
                                                << "PRO" << true;
    QTest::newRow("domain alone") << "Origin: https://tornavo.com"
                                  << "PRO" << false;
    QTest::newRow("suffix attack") << "Origin: https://app.tornavo.com.attacker.example"
                                   << "PRO" << false;
    QTest::newRow("user-info attack") << "Origin: https://app.tornavo.com@attacker.example"
                                      << "PRO" << false;
    QTest::newRow("fragment attack") << "Referer: https://attacker.example#.tornavo.com"
                                     << "PRO" << false;
    QTest::newRow("referer path attack") << "Referer: https://attacker.example/x.tornavo.com"
                                         << "PRO" << false;
    QTest::newRow("referer admits") << "Origin: https://x.example\r\nReferer: https://app.tornavo.com/p"
                                    << "PRO" << true;
    QTest::newRow("referer query with bar") << "Referer: https://app.tornavo.com/buscar?f=a|b"
                                            << "PRO" << true;
    QTest::newRow("referer query with braces") << "Referer: https://app.tornavo.com/p?q={\"a\":1}"
                                               << "PRO" << true;
    QTest::newRow("referer path with bar") << "Referer: https://app.tornavo.com/a|b"
                                           << "PRO" << true;
    QTest::newRow("referer query attack") << "Referer: https://attacker.example?x=.tornavo.com"
                                          << "PRO" << false;
    QTest::newRow("referer bad host") << "Referer: https://app.tor|navo.com/"
                                      << "PRO" << false;
    QTest::newRow("localhost in PRO") << "Origin: http://localhost:8080"
                                      << "PRO" << false;
    QTest::newRow("localhost in DEV") << "Origin: http://localhost:8080"
                                      << "DEV" << true;
    QTest::newRow("LOCALHOST capitals in DEV") << "Origin: HTTPS://LOCALHOST:8443"
                                               << "DEV" << true;
    QTest::newRow("localhost in dev lower case") << "Origin: http://localhost"
                                                 << "dev" << false;
    QTest::newRow("localhost referer in DEV") << "Referer: http://localhost/page.html"
                                              << "DEV" << true;
    QTest::newRow("localhost prefix attack") << "Origin: http://localhost.attacker.example"
                                             << "DEV" << false;
    QTest::newRow("null") << "Origin: null"
                          << "DEV" << false;
    QTest::newRow("not a url") << "Origin: app.tornavo.com"
                               << "PRO" << false;
    QTest::newRow("file scheme") << "Origin: file://app.tornavo.com/"
                                 << "PRO" << false;
}

void TstProtocolo::originPolicy()
{
    QFETCH(QString, cabeceras);
    QFETCH(QString, modo);
    QFETCH(bool, admitida);
    QCOMPARE(OrigenPermitido(QStringLiteral("GET / HTTP/1.1\r\n") + cabeceras, modo, QStringLiteral("tornavo.com")),
             admitida);
}

void TstProtocolo::requestLine_data()
{
    QTest::addColumn<QString>("linea");
    QTest::addColumn<bool>("valida");
    QTest::addColumn<QString>("metodo");
    QTest::addColumn<QString>("ruta");
    QTest::newRow("plain") << "GET /status HTTP/1.1" << true << "GET"
                           << "/status";
    QTest::newRow("lower-case method") << "get /status HTTP/1.1" << true << "GET"
                                       << "/status";
    QTest::newRow("root becomes empty") << "GET / HTTP/1.1" << true << "GET"
                                        << "";
    QTest::newRow("one slash removed") << "GET /status// HTTP/1.1" << true << "GET"
                                       << "/status/";
    QTest::newRow("query kept") << "GET /status?x=1 HTTP/1.1" << true << "GET"
                                << "/status?x=1";
    QTest::newRow("percent not decoded") << "GET /st%61tus HTTP/1.1" << true << "GET"
                                         << "/st%61tus";
    QTest::newRow("double space gives empty path") << "GET  /status HTTP/1.1" << true << "GET"
                                                   << "";
    QTest::newRow("one space") << "GET /status" << false << ""
                               << "";
    QTest::newRow("no space") << "GARBAGE" << false << ""
                              << "";
}

void TstProtocolo::requestLine()
{
    QFETCH(QString, linea);
    QFETCH(bool, valida);
    QFETCH(QString, metodo);
    QFETCH(QString, ruta);
    LineaSolicitud resultado;
    QString error;
    QCOMPARE(AnalizarLineaSolicitud(linea + QStringLiteral("\r\nHost: x"), resultado, error), valida);
    if (valida) {
        QCOMPARE(resultado.metodo, metodo);
        QCOMPARE(resultado.ruta, ruta);
    } else {
        QVERIFY(!error.isEmpty());
    }
}

void TstProtocolo::summaryAndSplit()
{
    QCOMPARE(ResumenSolicitud(QStringLiteral("  GET /status HTTP/1.1  \r\nHost: x")),
             QStringLiteral("Solicitud recibida: GET /status HTTP/1.1"));
    QCOMPARE(ResumenSolicitud(QString()), QStringLiteral("Solicitud recibida: "));
    // A megabyte-long request line does not become a megabyte-long log line.
    const QString larga = QStringLiteral("GET /") + QString(1024 * 1024, u'a') + QStringLiteral(" HTTP/1.1");
    const QString resumen = ResumenSolicitud(larga + QStringLiteral("\r\n"));
    QVERIFY(resumen.startsWith(QStringLiteral("Solicitud recibida: GET /aaa")));
    QVERIFY(resumen.size() < kLargoMaximoEnLog + 64);
    QVERIFY(resumen.endsWith(QStringLiteral("(%1 caracteres más)").arg(larga.size() - kLargoMaximoEnLog)));

    const SolicitudDecodificada partes = DecodificarSolicitud("POST / HTTP/1.1\r\nA: b\r\n\r\n{\"x\":1}\r\n\r\nz");
    QCOMPARE(partes.cabecera, QStringLiteral("POST / HTTP/1.1\r\nA: b"));
    QCOMPARE(partes.cuerpo, QByteArray("{\"x\":1}\r\n\r\nz"));
    // Split on the bytes: UTF-8 when all of it is, Windows-1252 for both parts when any part is not.
    // The body stays UTF-8 bytes either way.
    const SolicitudDecodificada utf8 =
        DecodificarSolicitud("POST / HTTP/1.1\r\nA: \xc3\xb1\r\n\r\n{\"n\":\"\xc3\xb1\"}");
    QCOMPARE(utf8.cabecera, QStringLiteral("POST / HTTP/1.1\r\nA: ñ"));
    QCOMPARE(utf8.cuerpo, QByteArray("{\"n\":\"\xc3\xb1\"}"));
    QVERIFY(utf8.utf8);
    const SolicitudDecodificada mezcla = DecodificarSolicitud("POST / HTTP/1.1\r\nA: \xc3\xb1\r\n\r\n{\"n\":\"\xf1\"}");
    QCOMPARE(mezcla.cabecera, QStringLiteral("POST / HTTP/1.1\r\nA: Ã±"));
    QCOMPARE(mezcla.cuerpo, QByteArray("{\"n\":\"\xc3\xb1\"}"));
    QVERIFY(!mezcla.utf8);
    QCOMPARE(DecodificarSolicitud("GET / HTTP/1.1").cabecera, QStringLiteral("GET / HTTP/1.1"));

    const SolicitudDecodificada sinBlanco = DecodificarSolicitud("GET / HTTP/1.1\r\nA: b");
    QCOMPARE(sinBlanco.cabecera, QStringLiteral("GET / HTTP/1.1\r\nA: b"));
    QVERIFY(sinBlanco.cuerpo.isEmpty());
}

void TstProtocolo::framing()
{
    QCOMPARE(Respuesta200(QString()), QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                                 "Access-Control-Allow-Origin: *\r\nContent-Length: 0\r\n\r\n"));
    QVERIFY(Respuesta200(QStringLiteral("12.345")).endsWith("Content-Length: 6\r\n\r\n12.345"));
    QVERIFY(Respuesta200(QStringLiteral("Método")).endsWith("Content-Length: 7\r\n\r\nM\xc3\xa9todo"));
    QVERIFY(Respuesta403().startsWith("HTTP/1.1 403 Forbidden\r\n"));
    QVERIFY(Respuesta403().endsWith("Content-Length: 54\r\n\r\n" + kCuerpo403.toUtf8()));
    QVERIFY(!Respuesta204(false).contains("Private-Network"));
    QVERIFY(Respuesta204(true).endsWith("Access-Control-Allow-Private-Network: true\r\n\r\n"));
}

void TstProtocolo::routes_data()
{
    QTest::addColumn<QString>("metodo");
    QTest::addColumn<QString>("ruta");
    QTest::addColumn<QString>("esperado");
    QTest::newRow("status") << "GET"
                            << "/status"
                            << "estado";
    QTest::newRow("printers") << "GET"
                              << "/impresoras"
                              << "impresoras";
    QTest::newRow("weight") << "GET"
                            << "/pesoBalanza"
                            << "peso";
    QTest::newRow("weight in lower case") << "GET"
                                          << "/pesobalanza" << kRutaNoValida;
    QTest::newRow("print") << "POST"
                           << "/print-base64"
                           << "imprimir:cuerpo";
    QTest::newRow("csv") << "POST"
                         << "/csv-base64"
                         << "csv:cuerpo";
    QTest::newRow("GET on a POST route") << "GET"
                                         << "/csv-base64" << kRutaNoValida;
    QTest::newRow("POST elsewhere") << "POST"
                                    << "/status" << kMetodoORutaNoValida;
    QTest::newRow("PUT") << "PUT"
                         << "/print-base64" << kMetodoORutaNoValida;
}

void TstProtocolo::routes()
{
    QFETCH(QString, metodo);
    QFETCH(QString, ruta);
    QFETCH(QString, esperado);
    Endpoints endpoints;
    endpoints.estado = [] { return QStringLiteral("estado"); };
    endpoints.impresoras = [] { return QStringLiteral("impresoras"); };
    endpoints.peso = [](const Responder& r) { r(QStringLiteral("peso")); };
    endpoints.imprimir = [](QByteArray c, std::unique_ptr<LectorBase64JSON> lector, const Responder& r) {
        r(QStringLiteral("imprimir:") + QString::fromUtf8(c) + (lector ? QStringLiteral("+lector") : QString()));
    };
    endpoints.csv = [](QByteArray c) { return QStringLiteral("csv:") + QString::fromUtf8(c); };
    QStringList respuestas;
    Enrutar(endpoints, metodo, ruta, "cuerpo", nullptr, [&](const QString& c) { respuestas << c; });
    QCOMPARE(respuestas, QStringList{esperado});

    // Only the print route reads its body as it arrives, and the reader reaches its endpoint.
    std::unique_ptr<LectorBase64JSON> lector = LectorAnticipado(endpoints, metodo, ruta);
    QCOMPARE(lector != nullptr, esperado.startsWith(QLatin1String("imprimir:")));
    if (lector) {
        respuestas.clear();
        Enrutar(endpoints, metodo, ruta, "cuerpo", std::move(lector), [&](const QString& c) { respuestas << c; });
        QCOMPARE(respuestas, QStringList{esperado + QStringLiteral("+lector")});
    }
    QVERIFY(!LectorAnticipado(Endpoints{}, metodo, ruta));

    // An endpoint that is not wired falls to the fixed answers rather than answering nothing.
    respuestas.clear();
    Enrutar(Endpoints{}, metodo, ruta, "cuerpo", nullptr, [&](const QString& c) { respuestas << c; });
    QCOMPARE(respuestas.size(), 1);
    QCOMPARE(respuestas.first(), metodo == QLatin1String("GET") ? kRutaNoValida : kMetodoORutaNoValida);
}

void TstProtocolo::weightRouteAnswersLater()
{
    Responder pendiente;
    Endpoints endpoints;
    endpoints.peso = [&](Responder r) { pendiente = std::move(r); };
    QStringList respuestas;
    Enrutar(endpoints, QStringLiteral("GET"), QStringLiteral("/pesoBalanza"), QByteArray(), nullptr,
            [&](const QString& c) { respuestas << c; });
    QVERIFY(respuestas.isEmpty());
    pendiente(QStringLiteral("1.500"));
    QCOMPARE(respuestas, QStringList{QStringLiteral("1.500")});
}

void TstProtocolo::uptimeText_data()
{
    QTest::addColumn<qint32>("segundos");
    QTest::addColumn<QString>("texto");
    QTest::newRow("zero") << 0 << "0d 00:00:00";
    QTest::newRow("59") << 59 << "0d 00:00:59";
    QTest::newRow("3661") << 3661 << "0d 01:01:01";
    QTest::newRow("90061") << 90061 << "1d 01:01:01";
    QTest::newRow("1000 days") << 86400000 << "1000d 00:00:00";
    QTest::newRow("clock set back") << -3661 << "0d -01:-01:-01";
    QTest::newRow("largest") << 2147483647 << "24855d 03:14:07";
}

void TstProtocolo::uptimeText()
{
    QFETCH(qint32, segundos);
    QFETCH(QString, texto);
    QCOMPARE(FormatearUptime(segundos), texto);
}

void TstProtocolo::statusDocument()
{
    Configuracion cfg;
    cfg.MODE = QStringLiteral("PRO");
    cfg.ProtocoloBalanza = QStringLiteral("kre\"tz");
    QDateTime ahora(QDate(2025, 3, 9), QTime(17, 4, 51, 900));
    DocumentoEstado estado(
        cfg, [] { return quint16(9999); }, [&ahora] { return ahora.toMSecsSinceEpoch(); });

    const QString primero = estado.ObtenerEstado();
    QVERIFY2(primero.startsWith(QStringLiteral("{\"status\":\"ok\",\"version\":\"")), qPrintable(primero));
    QVERIFY(primero.contains(QStringLiteral(
        "\"servidor\":\"Tornavo\",\"MODE\":\"PRO\",\"hora\":\"2025-03-09 17:04:51\",\"uptime\":\"0d "
        "00:00:00\",\"puerto\":\"9999\",\"protocolo_balanza\":\"kre\\\"tz\",\"puerto_balanza\":\"3\"}")));

    // Seconds are counted as second boundaries passed: 0.2 s later but across a boundary is one second.
    ahora = ahora.addMSecs(200);
    QVERIFY(estado.ObtenerEstado().contains(QStringLiteral("\"uptime\":\"0d 00:00:01\"")));
    ahora = QDateTime(QDate(2025, 3, 11), QTime(18, 4, 58));
    QVERIFY(estado.ObtenerEstado().contains(QStringLiteral("\"uptime\":\"2d 01:00:07\"")));
}

QTEST_GUILESS_MAIN(TstProtocolo)
#include "tst_protocolo.moc"
