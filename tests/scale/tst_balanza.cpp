#include "support/bitacora.h"
#include "support/puerto_falso.h"

#include "scale/balanza.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

Configuracion ConfiguracionDePrueba()
{
    Configuracion cfg;
    cfg.Intentos = 5;
    cfg.PausaIntento = 2;
    return cfg;
}

} // namespace

class TestBalanza final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<soporte::Bitacora> m_bitacora;
    PuertoFalso* m_puerto = nullptr;

    const QStringList& Mensajes() const { return m_bitacora->Mensajes(); }

    std::unique_ptr<Balanza> Crear(const Configuracion& cfg)
    {
        auto puerto = std::make_unique<PuertoFalso>();
        m_puerto = puerto.get();
        return std::make_unique<Balanza>(cfg, std::move(puerto));
    }

    // Runs one weight request to its end and returns its result.
    static QString Pesar(Balanza& balanza, const QString& protocolo)
    {
        QStringList resultados;
        balanza.PedirPeso(protocolo, [&resultados](const QString& r) { resultados.append(r); });
        [&] { QTRY_COMPARE_WITH_TIMEOUT(resultados.size(), 1, 10000); }();
        return resultados.value(0, QStringLiteral("<sin respuesta>"));
    }

    // A scale that answers each request byte with `respuesta`, from the event loop as a driver would.
    void ResponderCon(const QByteArray& disparador, const QByteArray& respuesta, int demoraMs = 0)
    {
        m_puerto->alEscribir = [this, disparador, respuesta, demoraMs](const QByteArray& datos) {
            if (datos == disparador) {
                PuertoFalso* puerto = m_puerto;
                QTimer::singleShot(demoraMs, puerto, [puerto, respuesta] { puerto->Llegar(respuesta); });
            }
        };
    }

    int LineasCon(const QString& prefijo) const
    {
        int n = 0;
        for (const QString& l : Mensajes()) {
            n += l.startsWith(prefijo) ? 1 : 0;
        }
        return n;
    }

private slots:
    void init() { m_bitacora = std::make_unique<soporte::Bitacora>(); }

    void cleanup() { m_bitacora.reset(); }

    void abrirPuerto_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QString>("ajustes");
        QTest::addColumn<QStringList>("lineas");

        QTest::newRow("Systel1") << "Systel1"
                                 << "9600,n,8,1" << QStringList{"? Puerto COM3 abierto con protocolo: Systel1"};
        QTest::newRow("kretz dos bits de parada")
            << "kretz"
            << "9600,n,8,2" << QStringList{"? Puerto COM3 abierto con protocolo: kretz"};
        QTest::newRow("systel3 en minúsculas")
            << "systel3"
            << "9600,n,8,1" << QStringList{"? Puerto COM3 abierto con protocolo: systel3"};
        QTest::newRow("desconocido") << "Systel4"
                                     << "9600,n,8,1"
                                     << QStringList{"?? Protocolo desconocido: Systel4. Usando configuración por "
                                                    "defecto.",
                                                    "? Puerto COM3 abierto con protocolo: Systel4"};
        QTest::newRow("vacío") << ""
                               << "9600,n,8,1"
                               << QStringList{"?? Protocolo desconocido: . Usando configuración por defecto.",
                                              "? Puerto COM3 abierto con protocolo: "};
        QTest::newRow("100KG") << "Bal100KG"
                               << "9600,n,8,1"
                               << QStringList{"?? Protocolo desconocido: Bal100KG. Usando configuración por "
                                              "defecto.",
                                              "? Puerto COM3 abierto con protocolo: Bal100KG"};
    }

    void abrirPuerto()
    {
        QFETCH(QString, protocolo);
        QFETCH(QString, ajustes);
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, protocolo));
        QVERIFY(balanza->PuertoAbierto());
        QCOMPARE(m_puerto->aperturas.size(), 1);
        QCOMPARE(m_puerto->aperturas[0].numero, qint16(3));
        AjustesLinea esperados;
        QString error;
        QVERIFY(InterpretarAjustesLinea(ajustes, esperados, error));
        QCOMPARE(m_puerto->aperturas[0].ajustes, esperados);
        QTEST(Mensajes(), "lineas");
    }

    void abrirPuerto_reabreConElNumeroAnterior()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        QVERIFY(balanza->AbrirPuerto(5, QStringLiteral("KRETZ")));
        QCOMPARE(Mensajes(),
                 (QStringList{"? Puerto COM3 abierto con protocolo: Systel1", "Puerto COM:3 cerrado antes de reabrir.",
                              "? Puerto COM5 abierto con protocolo: KRETZ"}));
        QCOMPARE(m_puerto->cierres, 1);
        QCOMPARE(m_puerto->aperturas.last().numero, qint16(5));
        QCOMPARE(m_puerto->aperturas.last().ajustes.bitsParada, 2);
    }

    void abrirPuerto_fallaYQuedaCerrado()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        m_puerto->errorAlAbrir = QStringLiteral("No such file or directory");
        QVERIFY(!balanza->AbrirPuerto(7, QStringLiteral("Systel1")));
        QVERIFY(!balanza->PuertoAbierto());
        QCOMPARE(Mensajes().mid(1), (QStringList{"Puerto COM:3 cerrado antes de reabrir.",
                                                 "? Error al abrir puerto COM7: No such file or directory"}));
    }

    void cerrarPuerto()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->CerrarPuerto()); // nothing open: nothing to do
        QCOMPARE(m_puerto->cierres, 0);
        QVERIFY(balanza->AbrirPuerto(4, QStringLiteral("Systel1")));
        m_puerto->errorAlCerrar = QStringLiteral("Input/output error");
        QVERIFY(!balanza->CerrarPuerto());
        QCOMPARE(Mensajes().last(), QStringLiteral("? Error al cerrar puerto COM4: Input/output error"));
        QVERIFY(!balanza->PuertoAbierto());
    }

    // A scale that never answers: exactly Intentos attempts (at least one), each sending the protocol's bytes.
    void balanzaMuda_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<int>("intentos");
        QTest::addColumn<int>("intentosHechos");
        QTest::addColumn<QByteArray>("envio");
        QTest::addColumn<int>("escrituras");
        QTest::addColumn<QString>("resultado");

        QTest::newRow("Systel1 25") << "Systel1" << 25 << 25 << QByteArray("\x07") << 25 << "0.000";
        QTest::newRow("SYSTEL2 dos por intento") << "SYSTEL2" << 3 << 3 << QByteArray("\x07") << 6 << "0.000";
        QTest::newRow("SYSTEL3") << "SYSTEL3" << 4 << 4 << QByteArray("\x07") << 4 << "0.000";
        QTest::newRow("KRETZ escribe P") << "KRETZ" << 4 << 4 << QByteArray("P") << 4 << "";
        QTest::newRow("no listado no escribe") << "Libre" << 6 << 6 << QByteArray() << 0 << "";
        QTest::newRow("100KG no escribe") << "Bal100KG" << 2 << 2 << QByteArray() << 0 << "000.00";
        QTest::newRow("Intentos 1") << "Systel1" << 1 << 1 << QByteArray("\x07") << 1 << "0.000";
        QTest::newRow("Intentos 0") << "Systel1" << 0 << 1 << QByteArray("\x07") << 1 << "0.000";
        QTest::newRow("Intentos negativo") << "SYSTEL2" << -4 << 1 << QByteArray("\x07") << 2 << "0.000";
    }

    void balanzaMuda()
    {
        QFETCH(QString, protocolo);
        QFETCH(int, intentos);
        QFETCH(QByteArray, envio);
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.Intentos = intentos;
        cfg.PausaIntento = 1;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, protocolo));
        QTEST(Pesar(*balanza, protocolo), "resultado");
        QTEST(balanza->Intento(), "intentosHechos");
        QTEST(int(m_puerto->escrito.size()), "escrituras");
        for (const QByteArray& escrito : m_puerto->escrito) {
            QCOMPARE(escrito, envio);
        }
        QFETCH(QString, resultado);
        QCOMPARE(Mensajes().last(), QStringLiteral("?? Peso devuelto: ") + resultado);
        QVERIFY(balanza->PuertoAbierto()); // kept open between readings
    }

    // The answer goes out as soon as the reply is complete, not when the attempt's pause runs out.
    void respuestaCompleta_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QByteArray>("disparador");
        QTest::addColumn<QByteArray>("respuesta");
        QTest::addColumn<QString>("resultado");

        QTest::newRow("Systel1") << "Systel1" << QByteArray("\x07") << QByteArray("00012345") << "12.345";
        QTest::newRow("SYSTEL3 siete") << "SYSTEL3" << QByteArray("\x07") << QByteArray("0012345") << "12.345";
        QTest::newRow("KRETZ") << "KRETZ" << QByteArray("P")
                               << QByteArray("\x02"
                                             "12.345\r")
                               << "12.345";
        QTest::newRow("espacios de los extremos no cuentan")
            << "Systel1" << QByteArray("\x07") << QByteArray(" 0001234 5") << "12.345";
        QTest::newRow("retorno de carro cuenta")
            << "Systel1" << QByteArray("\x07") << QByteArray("0012345\r") << "12.345";
    }

    void respuestaCompleta()
    {
        QFETCH(QString, protocolo);
        QFETCH(QByteArray, disparador);
        QFETCH(QByteArray, respuesta);
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.ProtocoloBalanza = protocolo;
        cfg.PausaIntento = 600000; // a reading that waited out its pause would never end within the test
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, protocolo));
        ResponderCon(disparador, respuesta);
        QTEST(Pesar(*balanza, protocolo), "resultado");
        QCOMPARE(balanza->Intento(), 1);
    }

    // The reply stops at the expected length; what the scale sent beyond it is not the next reading's weight.
    void sobranteYBytesViejosDescartados()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.ProtocoloBalanza = QStringLiteral("SYSTEL2");
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, cfg.ProtocoloBalanza));
        ResponderCon(QByteArray("\x07"), QByteArray("00001000"));
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("1.000"));
        // The second request byte's answer arrives after the reading ended and waits in the port.
        QTRY_COMPARE(m_puerto->Pendiente(), QByteArray("00001000"));
        m_puerto->Llegar("99999999");
        m_puerto->alEscribir = nullptr;
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("0.000"));
        QCOMPARE(m_puerto->descartes, 2);
    }

    // A reply spread over attempts is gathered across them.
    void respuestaEnVariosIntentos()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.Intentos = 10;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, cfg.ProtocoloBalanza));
        QList<QByteArray> trozos{"000", "0 2", "500", "99"};
        m_puerto->alEscribir = [this, &trozos](const QByteArray&) {
            if (!trozos.isEmpty()) {
                m_puerto->Llegar(trozos.takeFirst());
            }
        };
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("2.500"));
        QCOMPARE(balanza->Intento(), 3);
    }

    // A scale that sends by itself: nothing is written, what arrives is read.
    void protocoloNoListadoLee()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.ProtocoloBalanza = QStringLiteral("Bal100KG");
        cfg.Intentos = 1000;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, cfg.ProtocoloBalanza));
        QTimer emisor;
        connect(&emisor, &QTimer::timeout, m_puerto, [this] { m_puerto->Llegar("00001234"); });
        emisor.start(5);
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("012.34"));
        QVERIFY(m_puerto->escrito.isEmpty());
    }

    // A request made while a reading runs gets that reading's result; the reading happens once.
    void pedidosSeUnen()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.PausaIntento = 600000;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, cfg.ProtocoloBalanza));
        m_bitacora->Limpiar();
        QStringList resultados;
        balanza->PedirPeso(cfg.ProtocoloBalanza, [&](const QString& r) { resultados << "A" + r; });
        balanza->PedirPeso(cfg.ProtocoloBalanza, [&](const QString& r) { resultados << "B" + r; });
        QVERIFY(resultados.isEmpty());
        QCOMPARE(m_puerto->escrito.size(), 1);
        QCOMPARE(m_puerto->descartes, 1);
        m_puerto->Llegar("00000750");
        QCOMPARE(resultados, (QStringList{"A0.750", "B0.750"}));
        QCOMPARE(Mensajes(), QStringList{"?? Peso devuelto: 0.750"});
    }

    // A caller may start the next reading from its own callback.
    void nuevaLecturaDesdeLaRespuesta()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        ResponderCon(QByteArray("\x07"), QByteArray("00000001"));
        QStringList resultados;
        balanza->PedirPeso(QStringLiteral("Systel1"), [&](const QString& r) {
            resultados << r;
            balanza->PedirPeso(QStringLiteral("Systel1"), [&](const QString& r2) { resultados << r2; });
        });
        QTRY_COMPARE(resultados.size(), 2);
        QCOMPARE(resultados, (QStringList{"0.001", "0.001"}));
        QCOMPARE(LineasCon(QStringLiteral("?? Peso devuelto: ")), 2);
    }

    void errorDelDispositivoDuranteLaLectura()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.PausaIntento = 600000;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(cfg.PortBalanza, cfg.ProtocoloBalanza));
        QStringList resultados;
        balanza->PedirPeso(cfg.ProtocoloBalanza, [&](const QString& r) { resultados << r; });
        balanza->PedirPeso(cfg.ProtocoloBalanza, [&](const QString& r) { resultados << r; });
        m_puerto->Llegar("0001");
        m_puerto->FallarDispositivo(QStringLiteral("Input/output error"));
        QCOMPARE(resultados, (QStringList{"ERROR", "ERROR"}));
        QCOMPARE(Mensajes().last(), QStringLiteral("? Error en PedirPeso: Input/output error"));
        QCOMPARE(LineasCon(QStringLiteral("?? Peso devuelto: ")), 0);
        QVERIFY(!balanza->PuertoAbierto());

        // Kept-open behaviour: the next reading opens the port again and reads.
        m_bitacora->Limpiar();
        ResponderCon(QByteArray("\x07"), QByteArray("00002000"));
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("2.000"));
        QCOMPARE(Mensajes(), (QStringList{"? Puerto COM3 abierto con protocolo: Systel1", "?? Peso devuelto: 2.000"}));
    }

    void errorDelDispositivoFueraDeLectura()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        m_puerto->FallarDispositivo(QStringLiteral("Input/output error"));
        QVERIFY(!balanza->PuertoAbierto());
        QCOMPARE(Mensajes().last(), QStringLiteral("? Error en puerto COM3: Input/output error"));
    }

    // Kept-open behaviour after a failed start-up open: one try per reading, then polling once it succeeds.
    void puertoSeRecupera()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        m_puerto->errorAlAbrir = QStringLiteral("No such file or directory");
        QVERIFY(!balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        m_bitacora->Limpiar();
        QCOMPARE(Pesar(*balanza, QStringLiteral("Systel1")), QStringLiteral("ERROR"));
        QCOMPARE(Mensajes(), (QStringList{"? Error al abrir puerto COM3: No such file or directory",
                                          "? Error en PedirPeso: el puerto COM3 no está abierto"}));
        QCOMPARE(m_puerto->aperturas.size(), 2);
        QVERIFY(m_puerto->escrito.isEmpty());

        m_puerto->errorAlAbrir.clear();
        m_bitacora->Limpiar();
        ResponderCon(QByteArray("\x07"), QByteArray("00000500"));
        QCOMPARE(Pesar(*balanza, QStringLiteral("Systel1")), QStringLiteral("0.500"));
        QCOMPARE(Mensajes(), (QStringList{"? Puerto COM3 abierto con protocolo: Systel1", "?? Peso devuelto: 0.500"}));
        // Once healed the port stays open: the next reading does not reopen it.
        QCOMPARE(Pesar(*balanza, QStringLiteral("Systel1")), QStringLiteral("0.500"));
        QCOMPARE(m_puerto->aperturas.size(), 3);
        QVERIFY(balanza->PuertoAbierto());
    }

    void errorAlEscribir()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        m_puerto->errorAlEscribir = QStringLiteral("Resource temporarily unavailable");
        QCOMPARE(Pesar(*balanza, QStringLiteral("Systel1")), QStringLiteral("ERROR"));
        QCOMPARE(Mensajes().last(), QStringLiteral("? Error en PedirPeso: Resource temporarily unavailable"));
    }

    // Per-request behaviour: the port is opened with the configured settings and closed after each reading.
    void puertoPorPedido()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.Comportamiento = QStringLiteral("normal"); // not exactly NORMAL
        cfg.PortBalanza = 6;
        cfg.ProtocoloBalanza = QStringLiteral("Kretz");
        auto balanza = Crear(cfg);
        ResponderCon(QByteArray("P"), QByteArray("X01.250\r"));
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("01.250"));
        QCOMPARE(Mensajes(), (QStringList{"? Puerto COM6 abierto con protocolo: Kretz", "?? Peso devuelto: 01.250"}));
        QVERIFY(!balanza->PuertoAbierto());
        QCOMPARE(m_puerto->aperturas.size(), 1);
        QCOMPARE(m_puerto->aperturas[0].ajustes.bitsParada, 2);
        QCOMPARE(m_puerto->cierres, 1);

        // A failure after opening leaves the port open; the next request closes it before reopening.
        m_puerto->errorAlEscribir = QStringLiteral("fallo");
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("ERROR"));
        QVERIFY(balanza->PuertoAbierto());
        m_puerto->errorAlEscribir.clear();
        m_bitacora->Limpiar();
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("01.250"));
        QCOMPARE(Mensajes().first(), QStringLiteral("Puerto COM:6 cerrado antes de reabrir."));
    }

    void puertoPorPedidoNoAbre()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.Comportamiento = QStringLiteral("PEDIDO");
        cfg.PortBalanza = 7;
        auto balanza = Crear(cfg);
        m_puerto->errorAlAbrir = QStringLiteral("Permission denied");
        QStringList resultados;
        balanza->PedirPeso(cfg.ProtocoloBalanza, [&](const QString& r) { resultados << r; });
        QCOMPARE(resultados, QStringList{"ERROR"});
        QCOMPARE(Mensajes(),
                 (QStringList{"? Error al abrir puerto COM7: Permission denied",
                              "Error al abrir el puerto COM. Verifique configuración.", "? Error en PedirPeso: "}));
        QVERIFY(m_puerto->escrito.isEmpty());
    }

    // Any mode but PRO makes up the reading: no serial traffic; a per-request port is still opened and closed.
    void modoSimulado_data()
    {
        QTest::addColumn<QString>("modo");
        QTest::addColumn<QString>("comportamiento");
        QTest::addColumn<int>("aperturas");

        QTest::newRow("DEV puerto abierto") << "DEV"
                                            << "NORMAL" << 0;
        QTest::newRow("DEV por pedido") << "DEV"
                                        << "PEDIDO" << 1;
        QTest::newRow("pro en minúsculas") << "pro"
                                           << "NORMAL" << 0;
    }

    void modoSimulado()
    {
        QFETCH(QString, modo);
        QFETCH(QString, comportamiento);
        QFETCH(int, aperturas);
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.MODE = modo;
        cfg.Comportamiento = comportamiento;
        auto balanza = Crear(cfg);
        const QRegularExpression systel(QStringLiteral("^\\d{1,2}\\.\\d{3}$"));
        QStringList vistos;
        for (int i = 0; i < 20; ++i) {
            QStringList resultados;
            balanza->PedirPeso(QStringLiteral("Systel1"), [&](const QString& r) { resultados << r; });
            QCOMPARE(resultados.size(), 1);
            QVERIFY2(systel.match(resultados[0]).hasMatch(), qPrintable(resultados[0]));
            vistos << resultados[0];
        }
        vistos.removeDuplicates();
        QVERIFY2(vistos.size() > 1, "the simulated weight never changes");
        QVERIFY(m_puerto->escrito.isEmpty());
        QCOMPARE(m_puerto->descartes, 0);
        QCOMPARE(m_puerto->aperturas.size(), aperturas * 20);
        QCOMPARE(m_puerto->cierres, aperturas * 20);
        QVERIFY(!balanza->PuertoAbierto());
        QCOMPARE(LineasCon(QStringLiteral("?? Peso devuelto: ")), 20);
    }

    void modoSimuladoKretzY100kg()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.MODE = QStringLiteral("DEV");
        auto balanza = Crear(cfg);
        QString kretz;
        balanza->PedirPeso(QStringLiteral("KRETZ"), [&](const QString& r) { kretz = r; });
        QVERIFY2(QRegularExpression(QStringLiteral("^.{0,4}$")).match(kretz).hasMatch(), qPrintable(kretz));
        QString cien;
        balanza->PedirPeso(QStringLiteral("X100KG"), [&](const QString& r) { cien = r; });
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{3,}\\.\\d{2}$")).match(cien).hasMatch(), qPrintable(cien));
    }

    // The callback of a reading still running when the Balanza goes away is never called.
    void destruirConLecturaPendiente()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.PausaIntento = 1;
        cfg.Intentos = 3;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        int llamadas = 0;
        balanza->PedirPeso(QStringLiteral("Systel1"), [&](const QString&) { ++llamadas; });
        balanza.reset();
        QTest::qWait(50);
        QCOMPARE(llamadas, 0);
    }

    // A callback that destroys the Balanza stops the others from being called on a dead object.
    void destruirDesdeLaRespuesta()
    {
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        int llamadas = 0;
        balanza->PedirPeso(QStringLiteral("Systel1"), [&](const QString&) {
            ++llamadas;
            balanza.reset();
        });
        balanza->PedirPeso(QStringLiteral("Systel1"), [&](const QString&) { ++llamadas; });
        QTRY_VERIFY(!balanza);
        QCOMPARE(llamadas, 1);
    }
};

QTEST_GUILESS_MAIN(TestBalanza)
#include "tst_balanza.moc"
