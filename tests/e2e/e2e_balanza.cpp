// The scale link through the real agent and balanza-simulada on a pseudo-terminal.
#include "support/agente_prueba.h"
#include "support/balanza_simulada.h"
#include "support/soporte.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using soporte::AgenteDePrueba;
using soporte::BalanzaSimulada;
using soporte::Fila;
using soporte::RespuestaHttp;

namespace {

QStringList Mensajes(const AgenteDePrueba& agente)
{
    QStringList mensajes;
    for (const QString& linea : agente.LineasLog()) {
        mensajes << linea.mid(22);
    }
    return mensajes;
}

int Contar(const QStringList& mensajes, const QString& prefijo)
{
    return int(
        std::count_if(mensajes.begin(), mensajes.end(), [&](const QString& m) { return m.startsWith(prefijo); }));
}

QByteArray SolicitudPeso()
{
    return "GET /pesoBalanza HTTP/1.1\r\nHost: localhost\r\nOrigin: https://app.tornavo.com\r\n\r\n";
}

// A weight request left open on its own socket, to be read later.
std::unique_ptr<QTcpSocket> PedirPesoSinEsperar(quint16 puerto)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), puerto);
    if (socket->waitForConnected(10000)) {
        socket->write(SolicitudPeso());
        socket->waitForBytesWritten(10000);
    }
    return socket;
}

RespuestaHttp LeerHastaCierre(QTcpSocket& socket)
{
    QByteArray recibido;
    QElapsedTimer reloj;
    reloj.start();
    while (socket.state() == QAbstractSocket::ConnectedState && reloj.elapsed() < 20000) {
        if (socket.waitForReadyRead(200)) {
            recibido += socket.readAll();
        }
    }
    recibido += socket.readAll();
    return soporte::AnalizarRespuesta(recibido);
}

// A GET /balanza/eventos left open on its own socket.
std::unique_ptr<QTcpSocket> PedirFlujo(quint16 puerto, const QByteArray& origen = "https://app.tornavo.com")
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), puerto);
    if (socket->waitForConnected(10000)) {
        socket->write("GET /balanza/eventos HTTP/1.1\r\nHost: localhost\r\nAccept: text/event-stream\r\nOrigin: " +
                      origen + "\r\n\r\n");
        socket->waitForBytesWritten(10000);
    }
    return socket;
}

// Reads into `recibido` until it holds `texto` (true) or 10 s pass.
bool LeerHasta(QTcpSocket& socket, QByteArray& recibido, const QByteArray& texto)
{
    QElapsedTimer reloj;
    reloj.start();
    while (!recibido.contains(texto) && reloj.elapsed() < 10000 && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        recibido += socket.readAll();
    }
    return recibido.contains(texto);
}

// The last event's data as a JSON object.
QJsonObject UltimoEvento(const QByteArray& recibido)
{
    const qsizetype fin = recibido.lastIndexOf("\n\n");
    const qsizetype inicio = recibido.lastIndexOf("data: ", fin);
    return inicio < 0 ? QJsonObject() : QJsonDocument::fromJson(recibido.mid(inicio + 6, fin - inicio - 6)).object();
}

} // namespace

class E2eBalanza final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<BalanzaSimulada> m_simulada;
    std::unique_ptr<AgenteDePrueba> m_agente;

    // The agent with the scale on the simulator's link and these extra settings.
    bool IniciarAgente(const QString& lineas)
    {
        m_agente->Configurar(QStringLiteral("DispositivoBalanza=%1\r\n").arg(m_simulada->Enlace()) + lineas);
        return m_agente->Iniciar();
    }

    // The simulator with `argumentos`, then the agent as IniciarAgente() starts it, until it has opened the port.
    bool IniciarAmbos(const QStringList& argumentos, const QString& lineas)
    {
        return m_simulada->Iniciar(argumentos) && IniciarAgente(lineas) &&
               m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto"));
    }

    // The agent's log lines that start with `prefijo`.
    int LineasCon(const QString& prefijo) const { return Contar(Mensajes(*m_agente), prefijo); }

    // The JSON document of a GET (an empty object when the answer is not one).
    QJsonObject Documento(const QString& ruta) const
    {
        const RespuestaHttp respuesta = m_agente->Get(ruta);
        return QJsonDocument::fromJson(respuesta.cuerpo).object();
    }

    QString Estado() const { return Documento(QStringLiteral("/balanza")).value("estado").toString(); }

    // Bytes the scale received over `ms`.
    int RecibidosDurante(int ms) const
    {
        const int antes = m_simulada->Campo(QStringLiteral("recibidos")).toInt();
        QTest::qWait(ms);
        return m_simulada->Campo(QStringLiteral("recibidos")).toInt() - antes;
    }

    QByteArray Peso() const
    {
        const RespuestaHttp respuesta = m_agente->Get(QStringLiteral("/pesoBalanza"));
        return respuesta.estado == 200 ? respuesta.cuerpo
                                       : QByteArray("<estado ") + QByteArray::number(respuesta.estado) + '>';
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_simulada = std::make_unique<BalanzaSimulada>(m_dir->path());
        m_agente = std::make_unique<AgenteDePrueba>();
    }

    void cleanup()
    {
        m_agente->Detener();
        m_agente.reset();
        m_simulada.reset();
        m_dir.reset();
    }

    // Each protocol: what the agent sends, the line settings it applies, and the decoded answer.
    void cadaProtocolo_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QByteArray>("peso");
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QString>("linea");

        const QByteArray peso("12.340");
        Fila("Systel1", "Systel1", peso, "07", "9600,n,8,1");
        Fila("SYSTEL2 dos 0x07", "SYSTEL2", peso, "07 07", "9600,n,8,1");
        Fila("systel3", "systel3", peso, "07", "9600,n,8,1");
        Fila("KRETZ dos bits de parada", "KRETZ", peso, "50", "9600,n,8,2");
        Fila("100KG envía solo", "Bal100KG", QByteArray("012.34"), "", "9600,n,8,1");
        Fila("otro envía solo", "Libre", QByteArray("0012.340"), "", "9600,n,8,1");
    }

    void cadaProtocolo()
    {
        QFETCH(QString, protocolo);
        QFETCH(QByteArray, peso);
        QFETCH(QString, linea);
        QVERIFY(m_simulada->Iniciar({"--protocolo", protocolo, "--peso", "12.34", "--intervalo", "20"}));
        QVERIFY(IniciarAgente(QStringLiteral("ProtocoloBalanza=%1\r\n").arg(protocolo)));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto con protocolo: ") + protocolo));
        QTRY_COMPARE_WITH_TIMEOUT(m_simulada->Campo(QStringLiteral("linea")), linea, 10000);
        const QByteArray leido = Peso();
        QVERIFY2(leido == peso,
                 qPrintable(leido + " en vez de " + peso + "; el log:\n" + Mensajes(*m_agente).join(u'\n').toUtf8()));
        QTEST(m_simulada->Campo(QStringLiteral("bytes")), "bytes");
        QVERIFY(Mensajes(*m_agente).contains(QStringLiteral("?? Peso devuelto: ") + QString::fromLatin1(peso)));
    }

    // A silent scale: exactly Intentos attempts (one when Intentos <= 1), each with the protocol's bytes.
    void balanzaMuda_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<int>("intentos");
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<QByteArray>("peso");

        QTest::newRow("Systel1 4 intentos") << "Systel1" << 4 << "07 07 07 07" << QByteArray("0.000");
        QTest::newRow("SYSTEL2 3 intentos") << "SYSTEL2" << 3 << "07 07 07 07 07 07" << QByteArray("0.000");
        QTest::newRow("KRETZ 2 intentos") << "KRETZ" << 2 << "50 50" << QByteArray("");
        QTest::newRow("Intentos 0 es uno") << "Systel1" << 0 << "07" << QByteArray("0.000");
    }

    void balanzaMuda()
    {
        QFETCH(QString, protocolo);
        QFETCH(int, intentos);
        QVERIFY(m_simulada->Iniciar({"--protocolo", protocolo, "--falla", "silencio"}));
        QVERIFY(IniciarAgente(
            QStringLiteral("ProtocoloBalanza=%1\r\nIntentos=%2\r\nPausaIntento=20\r\n").arg(protocolo).arg(intentos)));
        QTEST(Peso(), "peso");
        // Every attempt's bytes were sent before the answer; the simulator's report may lag behind them.
        QFETCH(QString, bytes);
        QTRY_COMPARE_WITH_TIMEOUT(m_simulada->Campo(QStringLiteral("bytes")), bytes, 5000);
    }

    void respuestaParcial()
    {
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1", "--peso", "12.34", "--falla", "parcial"}));
        QVERIFY(IniciarAgente(QStringLiteral("Intentos=1\r\n")));
        QCOMPARE(Peso(), QByteArray("0.001")); // "0001" of "00012340"
        // With more attempts the halves add up to the expected length.
        m_agente->Detener();
        QVERIFY(IniciarAgente(QStringLiteral("Intentos=5\r\n")));
        QCOMPARE(Peso(), QByteArray("10.001"));
    }

    // Outside PRO no byte reaches the scale; a per-request port is still opened and closed around each reading.
    void modoDev_data()
    {
        QTest::addColumn<QString>("comportamiento");
        QTest::addColumn<int>("aperturasPorPedido");
        QTest::newRow("NORMAL") << "NORMAL" << 0;
        QTest::newRow("por pedido") << "PORPEDIDO" << 1;
    }

    void modoDev()
    {
        QFETCH(QString, comportamiento);
        QFETCH(int, aperturasPorPedido);
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1"}));
        QVERIFY(IniciarAgente(QStringLiteral("MODE=DEV\r\nComportamiento=%1\r\n").arg(comportamiento)));
        // Kept open: opened once at start-up, before any reading.
        const int aperturasAlInicio = aperturasPorPedido == 0 ? 1 : 0;
        if (aperturasAlInicio > 0) {
            QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto")));
        }
        const QRegularExpression systel(QStringLiteral("^\\d{1,2}\\.\\d{3}$"));
        for (int i = 0; i < 3; ++i) {
            const QByteArray peso = Peso();
            QVERIFY2(systel.match(QString::fromLatin1(peso)).hasMatch(), peso.constData());
        }
        QCOMPARE(m_simulada->Campo(QStringLiteral("recibidos")), QStringLiteral("0"));
        QCOMPARE(LineasCon(QStringLiteral("? Puerto COM3 abierto")) - aperturasAlInicio, 3 * aperturasPorPedido);
        if (aperturasPorPedido > 0) {
            // Closed again: the device can be taken by someone else.
            QSerialPort otro(m_simulada->Enlace());
            QVERIFY2(otro.open(QIODevice::ReadWrite), qPrintable(otro.errorString()));
        }
    }

    void puertoQueNoAbrePorPedido()
    {
        QVERIFY(IniciarAgente(QStringLiteral("Comportamiento=PORPEDIDO\r\nPortBalanza=7\r\n")));
        QCOMPARE(Peso(), QByteArray("ERROR"));
        const QStringList mensajes = Mensajes(*m_agente);
        const qsizetype i = mensajes.indexOf(QRegularExpression(QStringLiteral("^\\? Error al abrir puerto COM7: .+")));
        QVERIFY2(i >= 0, qPrintable(mensajes.join(u'\n')));
        QCOMPARE(mensajes.mid(i + 1, 2),
                 (QStringList{"Error al abrir el puerto COM. Verifique configuración.", "? Error en PedirPeso: "}));
    }

    // Kept-open behaviour: the start-up open fails; readings fail until the device appears, then read it.
    void seRecuperaCuandoApareceElDispositivo()
    {
        QVERIFY(IniciarAgente(QString()));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("Error al abrir el puerto COM. Verifique configuración.")));
        QCOMPARE(Peso(), QByteArray("ERROR"));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Error en PedirPeso: ")));
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1", "--peso", "3.5"}));
        QCOMPARE(Peso(), QByteArray("3.500"));
        QCOMPARE(Peso(), QByteArray("3.500"));
        QCOMPARE(LineasCon(QStringLiteral("? Puerto COM3 abierto con protocolo: Systel1")), 1);
    }

    // The scale hangs up in the middle of its reply: "ERROR", and the agent goes on serving.
    void cuelgaDuranteLaLectura()
    {
        QVERIFY(IniciarAmbos({"--protocolo", "SYSTEL1", "--falla", "colgar"}, QStringLiteral("PausaIntento=1000\r\n")));
        QCOMPARE(Peso(), QByteArray("ERROR"));
        QTRY_VERIFY_WITH_TIMEOUT(m_simulada->Terminada(), 10000);
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Error en PedirPeso: ")));
        QCOMPARE(m_agente->Get(QStringLiteral("/status")).estado, 200);
        QCOMPARE(m_agente->Proceso().state(), QProcess::Running);
        // The device is gone: the next reading tries to open it once and fails cleanly.
        QCOMPARE(Peso(), QByteArray("ERROR"));
        QCOMPARE(m_agente->Get(QStringLiteral("/status")).estado, 200);
    }

    // Two weight requests at once share one reading: one request byte, one log line, the same answer.
    void dosPedidosComparten()
    {
        QVERIFY(IniciarAmbos({"--protocolo", "SYSTEL1", "--peso", "7.25", "--demora", "300"},
                             QStringLiteral("PausaIntento=2000\r\n")));
        auto primero = PedirPesoSinEsperar(m_agente->Puerto());
        QTRY_COMPARE_WITH_TIMEOUT(m_simulada->Campo(QStringLiteral("bytes")), QStringLiteral("07"), 10000);
        auto segundo = PedirPesoSinEsperar(m_agente->Puerto());
        const RespuestaHttp a = LeerHastaCierre(*primero);
        const RespuestaHttp b = LeerHastaCierre(*segundo);
        QCOMPARE(a.cuerpo, QByteArray("7.250"));
        QCOMPARE(b.cuerpo, QByteArray("7.250"));
        QCOMPARE(m_simulada->Campo(QStringLiteral("bytes")), QStringLiteral("07"));
        QCOMPARE(LineasCon(QStringLiteral("?? Peso devuelto: ")), 1);
    }

    // A silent scale keeps a weight request waiting; other requests are answered meanwhile.
    void otrasSolicitudesMientrasEspera()
    {
        QVERIFY(IniciarAmbos({"--protocolo", "SYSTEL1", "--falla", "silencio"},
                             QStringLiteral("Intentos=40\r\nPausaIntento=100\r\n")));
        auto peso = PedirPesoSinEsperar(m_agente->Puerto());
        QTRY_VERIFY_WITH_TIMEOUT(!m_simulada->Campo(QStringLiteral("bytes")).isEmpty(), 10000);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(m_agente->Get(QStringLiteral("/status")).estado, 200);
        }
        QCOMPARE(peso->bytesAvailable(), qint64(0));
        QCOMPARE(LineasCon(QStringLiteral("?? Peso devuelto: ")), 0);
        QCOMPARE(LeerHastaCierre(*peso).cuerpo, QByteArray("0.000"));
        QCOMPARE(m_simulada->Campo(QStringLiteral("recibidos")), QStringLiteral("40"));
    }

    // GET /balanza: the reading as data; its "peso" is the text GET /pesoBalanza answers.
    void balanzaComoDatos_data()
    {
        QTest::addColumn<QStringList>("argumentos");
        QTest::addColumn<QString>("lineas");
        QTest::addColumn<QString>("peso");
        QTest::addColumn<QVariant>("kg");
        QTest::addColumn<QString>("estado");

        Fila("Systel1", QStringList{"--peso", "12.34"}, "", "12.340", QVariant(12.34), "ok");
        Fila("KRETZ", QStringList{"--protocolo", "KRETZ", "--peso", "3.5"}, "ProtocoloBalanza=KRETZ\r\n", "03.500",
             QVariant(3.5), "ok");
        Fila("muda", QStringList{"--falla", "silencio"}, "Intentos=2\r\nPausaIntento=20\r\n", "0.000", QVariant(),
             "sin respuesta");
        Fila("basura", QStringList{"--falla", "basura"}, "Intentos=1\r\nPausaIntento=200\r\n", "0.000", QVariant(),
             "ilegible");
    }

    void balanzaComoDatos()
    {
        QFETCH(QStringList, argumentos);
        QFETCH(QString, lineas);
        QFETCH(QString, peso);
        QFETCH(QVariant, kg);
        QVERIFY(IniciarAmbos(argumentos, lineas));
        const QJsonObject doc = Documento(QStringLiteral("/balanza"));
        QTEST(doc.value("peso").toString(), "peso");
        QTEST(doc.value("estado").toString(), "estado");
        QCOMPARE(doc.value("kg").isNull(), kg.isNull());
        if (!kg.isNull()) {
            QCOMPARE(doc.value("kg").toDouble(), kg.toDouble());
        }
        QVERIFY(doc.value("estable").isNull() || doc.value("estable").isBool());
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                     .match(doc.value("hora").toString())
                     .hasMatch(),
                 qPrintable(doc.value("hora").toString()));
        QVERIFY(doc.value("edadMs").isDouble() && doc.value("edadMs").toDouble() >= 0);
        QCOMPARE(QString::fromLatin1(Peso()), peso);
    }

    // Unplugged: "error" with the system's reason; when the scale returns under the same name, readings again.
    void desenchufadaYVuelve()
    {
        QVERIFY(IniciarAmbos({"--peso", "2"}, QStringLiteral("PausaIntento=100\r\n")));
        QCOMPARE(Estado(), QStringLiteral("ok"));
        QVERIFY(m_simulada->Ordenar("colgar"));
        QTRY_VERIFY_WITH_TIMEOUT(m_simulada->Terminada(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Estado(), QStringLiteral("error"), 10000);
        const QJsonObject doc = Documento(QStringLiteral("/balanza"));
        QCOMPARE(doc.value("peso").toString(), QStringLiteral("ERROR"));
        QVERIFY(doc.value("kg").isNull());
        QVERIFY2(!doc.value("detalle").toString().isEmpty(), qPrintable(QJsonDocument(doc).toJson()));
        QVERIFY(m_simulada->Iniciar({"--peso", "2.5"}));
        QTRY_COMPARE_WITH_TIMEOUT(Estado(), QStringLiteral("ok"), 10000);
        QCOMPARE(Documento(QStringLiteral("/balanza")).value("peso").toString(), QStringLiteral("2.500"));
    }

    // A settling weight: GET /balanza/estable answers once one weight has held EstableMs, with that weight; the
    // readings it takes write no log line each.
    void estableTrasAsentarse()
    {
        QVERIFY(IniciarAmbos({"--peso", "4.5", "--asentar", "800"},
                             QStringLiteral("IntervaloBalanza=50\r\nEstableMs=300\r\nEsperaEstable=10000\r\n")));
        QJsonObject doc = Documento(QStringLiteral("/balanza/estable"));
        QCOMPARE(doc.value("estable").toBool(false), true);
        QCOMPARE(doc.value("peso").toString(), QStringLiteral("4.500"));
        QCOMPARE(doc.value("kg").toDouble(), 4.5);
        QVERIFY(m_simulada->Campo(QStringLiteral("recibidos")).toInt() > 3);
        QCOMPARE(LineasCon(QStringLiteral("?? Peso devuelto: ")), 0);

        // A new weight settles the same way.
        QVERIFY(m_simulada->Ordenar("peso 6 600"));
        doc = Documento(QStringLiteral("/balanza/estable"));
        QCOMPARE(doc.value("estable").toBool(false), true);
        QCOMPARE(doc.value("peso").toString(), QStringLiteral("6.000"));
    }

    // A weight that never settles: after EsperaEstable, the last reading with "estable":false.
    void nuncaSeAsienta()
    {
        QVERIFY(IniciarAmbos({"--peso", "4.5", "--asentar", "600000"},
                             QStringLiteral("IntervaloBalanza=50\r\nEstableMs=300\r\nEsperaEstable=700\r\n")));
        QElapsedTimer reloj;
        reloj.start();
        const QJsonObject doc = Documento(QStringLiteral("/balanza/estable"));
        QCOMPARE(doc.value("estable").toBool(true), false);
        QCOMPARE(doc.value("estado").toString(), QStringLiteral("ok"));
        QVERIFY(doc.value("peso").toString() != QLatin1String("4.500"));
        QVERIFY2(reloj.elapsed() >= 600, qPrintable(QString::number(reloj.elapsed())));
    }

    // GET /puertos: the system's ports, and the configured device even when the system does not list it (a
    // pseudo-terminal), marked.
    void puertosConElConfigurado()
    {
        QVERIFY(m_simulada->Iniciar({}));
        QVERIFY(IniciarAgente(QString()));
        const QJsonArray puertos = Documento(QStringLiteral("/puertos")).value("puertos").toArray();
        int configurados = 0;
        for (const QJsonValue& p : puertos) {
            if (p.toObject().value("configurado").toBool()) {
                ++configurados;
                QCOMPARE(p.toObject().value("ruta").toString(), m_simulada->Enlace());
                QCOMPARE(p.toObject().value("nombre").toString(), QStringLiteral("ttyBalanza"));
            }
        }
        QCOMPARE(configurados, 1);
    }

    // A stream gets the weight, then each change as one event; the log says when it opens and ends, not per event;
    // when it ends, the scale is left alone.
    void flujoSigueLosCambios()
    {
        QVERIFY(IniciarAmbos({"--peso", "4.5"}, QStringLiteral("IntervaloBalanza=100\r\n")));
        auto flujo = PedirFlujo(m_agente->Puerto());
        QByteArray recibido;
        QVERIFY2(LeerHasta(*flujo, recibido, "\"peso\":\"4.500\""), recibido.constData());
        QVERIFY(recibido.startsWith("HTTP/1.1 200 OK\r\n"));
        QVERIFY(recibido.contains("\r\nContent-Type: text/event-stream\r\n"));
        QVERIFY(recibido.contains("\r\nretry: "));
        QCOMPARE(UltimoEvento(recibido).value("estado").toString(), QStringLiteral("ok"));

        QVERIFY(m_simulada->Ordenar("peso 6"));
        QVERIFY2(LeerHasta(*flujo, recibido, "\"peso\":\"6.000\""), recibido.constData());
        QCOMPARE(UltimoEvento(recibido).value("kg").toDouble(), 6.0);
        QVERIFY(RecibidosDurante(500) > 0);

        flujo->abort();
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("Flujo de la balanza cerrado")));
        QTest::qWait(300); // a reading under way ends
        QCOMPARE(RecibidosDurante(800), 0);
        const QStringList mensajes = Mensajes(*m_agente);
        QCOMPARE(Contar(mensajes, QStringLiteral("Flujo de la balanza abierto")), 1);
        QCOMPARE(Contar(mensajes, QStringLiteral("Flujo de la balanza cerrado")), 1);
        QCOMPARE(Contar(mensajes, QStringLiteral("?? Peso devuelto: ")), 0);

        // The agent stopping ends a stream as it is: the closing of the scale's port never reaches it.
        flujo = PedirFlujo(m_agente->Puerto());
        recibido.clear();
        QVERIFY2(LeerHasta(*flujo, recibido, "\"peso\":\"6.000\""), recibido.constData());
        m_agente->Detener();
        QVERIFY2(!LeerHasta(*flujo, recibido, "\"estado\":\"error\""), recibido.constData());
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("Flujo de la balanza cerrado: el servidor se detiene")));
    }

    // Eight pages listening share one polling schedule and leave the agent free; a ninth is refused, and so is a
    // page from an origin not allowed; once all have left, polling stops.
    void ochoOyentesUnSoloSondeo()
    {
        QVERIFY(IniciarAmbos({"--peso", "2"}, QStringLiteral("IntervaloBalanza=100\r\n")));
        std::vector<std::unique_ptr<QTcpSocket>> flujos;
        flujos.push_back(PedirFlujo(m_agente->Puerto()));
        QByteArray recibido;
        QVERIFY(LeerHasta(*flujos.back(), recibido, "\"peso\":\"2.000\""));
        const int conUno = RecibidosDurante(1500);
        for (int i = 1; i < 8; ++i) {
            flujos.push_back(PedirFlujo(m_agente->Puerto()));
            QByteArray otro;
            QVERIFY2(LeerHasta(*flujos.back(), otro, "\"peso\":\"2.000\""), otro.constData());
        }
        const int conOcho = RecibidosDurante(1500);
        QVERIFY2(conUno > 0 && conOcho < 2 * conUno, qPrintable(QStringLiteral("%1 / %2").arg(conOcho).arg(conUno)));

        const RespuestaHttp estado = m_agente->Get(QStringLiteral("/status"));
        QCOMPARE(estado.estado, 200);
        auto noveno = PedirFlujo(m_agente->Puerto());
        const RespuestaHttp rechazo = LeerHastaCierre(*noveno);
        QCOMPARE(rechazo.estado, 503);
        QCOMPARE(rechazo.cuerpo, QByteArray("{\"success\":false,\"error\":\"Demasiadas conexiones a la balanza\"}"));
        auto ajeno = PedirFlujo(m_agente->Puerto(), "https://otro.example");
        QCOMPARE(LeerHastaCierre(*ajeno).estado, 403);

        for (auto& flujo : flujos) {
            flujo->abort();
        }
        QTRY_COMPARE_WITH_TIMEOUT(LineasCon(QStringLiteral("Flujo de la balanza cerrado")), 8, 10000);
        QTest::qWait(300);
        QCOMPARE(RecibidosDurante(800), 0);
    }

    // Not a check: how long GET /pesoBalanza takes when the scale answers after 30 ms.
    void tiempoConDemora30()
    {
        QVERIFY(IniciarAmbos({"--protocolo", "SYSTEL1", "--demora", "30"}, QString()));
        QList<qint64> tiempos;
        for (int i = 0; i < 30; ++i) {
            QElapsedTimer reloj;
            reloj.start();
            QCOMPARE(Peso(), QByteArray("1.234"));
            tiempos << reloj.nsecsElapsed() / 1000;
        }
        std::sort(tiempos.begin(), tiempos.end());
        qInfo("GET /pesoBalanza con la balanza a 30 ms: mediana %lld us, mínimo %lld us, máximo %lld us",
              tiempos[tiempos.size() / 2], tiempos.first(), tiempos.last());
    }
};

QTEST_GUILESS_MAIN(E2eBalanza)
#include "e2e_balanza.moc"
