// The scale link through the real agent and balanza-simulada on a pseudo-terminal.
#include "support/agente_prueba.h"
#include "support/balanza_simulada.h"
#include "support/soporte.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using soporte::AgenteDePrueba;
using soporte::BalanzaSimulada;
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

        QTest::newRow("Systel1") << "Systel1" << QByteArray("12.340") << "07"
                                 << "9600,n,8,1";
        QTest::newRow("SYSTEL2 dos 0x07") << "SYSTEL2" << QByteArray("12.340") << "07 07"
                                          << "9600,n,8,1";
        QTest::newRow("systel3") << "systel3" << QByteArray("12.340") << "07"
                                 << "9600,n,8,1";
        QTest::newRow("KRETZ dos bits de parada") << "KRETZ" << QByteArray("12.340") << "50"
                                                  << "9600,n,8,2";
        QTest::newRow("100KG envía solo") << "Bal100KG" << QByteArray("012.34") << ""
                                          << "9600,n,8,1";
        QTest::newRow("otro envía solo") << "Libre" << QByteArray("0012.340") << ""
                                         << "9600,n,8,1";
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
        QCOMPARE(Peso(), peso);
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
        QTEST(m_simulada->Campo(QStringLiteral("bytes")), "bytes");
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
        QCOMPARE(Contar(Mensajes(*m_agente), QStringLiteral("? Puerto COM3 abierto")) - aperturasAlInicio,
                 3 * aperturasPorPedido);
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
        QCOMPARE(Contar(Mensajes(*m_agente), QStringLiteral("? Puerto COM3 abierto con protocolo: Systel1")), 1);
    }

    // The scale hangs up in the middle of its reply: "ERROR", and the agent goes on serving.
    void cuelgaDuranteLaLectura()
    {
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1", "--falla", "colgar"}));
        QVERIFY(IniciarAgente(QStringLiteral("PausaIntento=1000\r\n")));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto")));
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
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1", "--peso", "7.25", "--demora", "300"}));
        QVERIFY(IniciarAgente(QStringLiteral("PausaIntento=2000\r\n")));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto")));
        auto primero = PedirPesoSinEsperar(m_agente->Puerto());
        QTRY_COMPARE_WITH_TIMEOUT(m_simulada->Campo(QStringLiteral("bytes")), QStringLiteral("07"), 10000);
        auto segundo = PedirPesoSinEsperar(m_agente->Puerto());
        const RespuestaHttp a = LeerHastaCierre(*primero);
        const RespuestaHttp b = LeerHastaCierre(*segundo);
        QCOMPARE(a.cuerpo, QByteArray("7.250"));
        QCOMPARE(b.cuerpo, QByteArray("7.250"));
        QCOMPARE(m_simulada->Campo(QStringLiteral("bytes")), QStringLiteral("07"));
        QCOMPARE(Contar(Mensajes(*m_agente), QStringLiteral("?? Peso devuelto: ")), 1);
    }

    // A silent scale keeps a weight request waiting; other requests are answered meanwhile.
    void otrasSolicitudesMientrasEspera()
    {
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1", "--falla", "silencio"}));
        QVERIFY(IniciarAgente(QStringLiteral("Intentos=40\r\nPausaIntento=100\r\n")));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto")));
        auto peso = PedirPesoSinEsperar(m_agente->Puerto());
        QTRY_VERIFY_WITH_TIMEOUT(!m_simulada->Campo(QStringLiteral("bytes")).isEmpty(), 10000);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(m_agente->Get(QStringLiteral("/status")).estado, 200);
        }
        QCOMPARE(peso->bytesAvailable(), qint64(0));
        QCOMPARE(Contar(Mensajes(*m_agente), QStringLiteral("?? Peso devuelto: ")), 0);
        QCOMPARE(LeerHastaCierre(*peso).cuerpo, QByteArray("0.000"));
        QCOMPARE(m_simulada->Campo(QStringLiteral("recibidos")), QStringLiteral("40"));
    }

    // Not a check: how long GET /pesoBalanza takes when the scale answers after 30 ms.
    void tiempoConDemora30()
    {
        QVERIFY(m_simulada->Iniciar({"--protocolo", "SYSTEL1", "--demora", "30"}));
        QVERIFY(IniciarAgente(QString()));
        QVERIFY(m_agente->EsperarLineaLog(QStringLiteral("? Puerto COM3 abierto")));
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
