#include "support/bitacora.h"
#include "support/puerto_falso.h"
#include "support/soporte.h"

#include "scale/balanza.h"
#include "scale/lecturas.h"
#include "scale/puertos.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using soporte::Fila;

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
    qint64 m_ahora = 0;
    int m_paso = 0;

    const QStringList& Mensajes() const { return m_bitacora->Mensajes(); }

    std::unique_ptr<Balanza> Crear(const Configuracion& cfg)
    {
        auto puerto = std::make_unique<PuertoFalso>();
        m_puerto = puerto.get();
        return std::make_unique<Balanza>(cfg, std::move(puerto));
    }

    // Runs one reading to its end and returns it.
    static LecturaBalanza Leer(Balanza& balanza, const QString& protocolo)
    {
        QList<LecturaBalanza> lecturas;
        balanza.PedirLectura(protocolo, [&lecturas](const LecturaBalanza& l) { lecturas.append(l); });
        [&] { QTRY_COMPARE_WITH_TIMEOUT(lecturas.size(), 1, 10000); }();
        return lecturas.value(0);
    }

    // Settings for the schedule: a reply or a silence decided within one attempt.
    static Configuracion ConfiguracionDeSondeo()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.Intentos = 1;
        cfg.PausaIntento = 200;
        cfg.IntervaloBalanza = 10;
        cfg.EstableMs = 60;
        cfg.EsperaEstable = 5000;
        return cfg;
    }

    // A Balanza on a clock that only the scale moves: half an interval per request byte (see Escala), so that how
    // long a weight has held does not depend on how busy the machine is.
    std::unique_ptr<Balanza> CrearConReloj(const Configuracion& cfg)
    {
        auto puerto = std::make_unique<PuertoFalso>();
        m_puerto = puerto.get();
        m_ahora = 1000;
        m_paso = cfg.IntervaloBalanza / 2;
        const Reloj reloj = [this] { return m_ahora; };
        return std::make_unique<Balanza>(cfg, std::move(puerto), reloj, reloj);
    }

    // The scale: each request byte moves the clock and is answered with `siguiente()` (nothing when empty).
    void Escala(std::function<QByteArray()> siguiente)
    {
        m_puerto->alEscribir = [this, siguiente](const QByteArray&) {
            m_ahora += m_paso;
            const QByteArray respuesta = siguiente();
            PuertoFalso* puerto = m_puerto;
            if (!respuesta.isEmpty()) {
                QTimer::singleShot(0, puerto, [puerto, respuesta] { puerto->Llegar(respuesta); });
            }
        };
    }

    // A scale that answers with each of `respuestas` in turn, then with the last one for ever.
    void EscalaSucesiva(const QList<QByteArray>& respuestas)
    {
        auto quedan = std::make_shared<QList<QByteArray>>(respuestas);
        Escala([quedan] { return quedan->size() > 1 ? quedan->takeFirst() : quedan->value(0); });
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
        QTest::addColumn<bool>("desconocido"); // logged as such before the port's line

        Fila("Systel1", "Systel1", "9600,n,8,1", false);
        Fila("kretz dos bits de parada", "kretz", "9600,n,8,2", false);
        Fila("systel3 en minúsculas", "systel3", "9600,n,8,1", false);
        Fila("desconocido", "Systel4", "9600,n,8,1", true);
        Fila("vacío", "", "9600,n,8,1", true);
        Fila("100KG", "Bal100KG", "9600,n,8,1", true);
    }

    void abrirPuerto()
    {
        QFETCH(QString, protocolo);
        QFETCH(QString, ajustes);
        QFETCH(bool, desconocido);
        auto balanza = Crear(ConfiguracionDePrueba());
        QVERIFY(balanza->AbrirPuerto(3, protocolo));
        QVERIFY(balanza->PuertoAbierto());
        QCOMPARE(m_puerto->aperturas.size(), 1);
        QCOMPARE(m_puerto->aperturas[0].numero, qint16(3));
        AjustesLinea esperados;
        QString error;
        QVERIFY(InterpretarAjustesLinea(ajustes, esperados, error));
        QCOMPARE(m_puerto->aperturas[0].ajustes, esperados);
        QStringList lineas{"? Puerto COM3 abierto con protocolo: " + protocolo};
        if (desconocido) {
            lineas.prepend("?? Protocolo desconocido: " + protocolo + ". Usando configuración por defecto.");
        }
        QCOMPARE(Mensajes(), lineas);
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

        const QByteArray bel("\x07");
        Fila("Systel1", "Systel1", bel, QByteArray("00012345"), "12.345");
        Fila("SYSTEL3 siete", "SYSTEL3", bel, QByteArray("0012345"), "12.345");
        Fila("KRETZ", "KRETZ", QByteArray("P"), QByteArray("\x02") + "12.345\r", "12.345");
        Fila("espacios de los extremos no cuentan", "Systel1", bel, QByteArray(" 0001234 5"), "12.345");
        Fila("retorno de carro cuenta", "Systel1", bel, QByteArray("0012345\r"), "12.345");
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

        Fila("DEV puerto abierto", "DEV", "NORMAL", 0);
        Fila("DEV por pedido", "DEV", "PEDIDO", 1);
        Fila("pro en minúsculas", "pro", "NORMAL", 0);
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

    // What a reply says beyond its weight text: state and kilograms.
    void lectura_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QByteArray>("respuesta"); // empty: the scale stays silent
        QTest::addColumn<QString>("errorAlAbrir");
        QTest::addColumn<QString>("peso");
        QTest::addColumn<QVariant>("kg");
        QTest::addColumn<QString>("estado");
        QTest::addColumn<QString>("detalle");

        const QVariant nulo;
        const QByteArray nada;
        const QByteArray stx("\x02");
        Fila("Systel1", "Systel1", QByteArray("00012345"), "", "12.345", QVariant(12.345), "ok", "");
        Fila("Systel1 negativo", "Systel1", QByteArray("-0000500"), "", "-0.500", QVariant(-0.5), "ok", "");
        Fila("muda: 0.000 que no es un cero", "Systel1", nada, "", "0.000", nulo, "sin respuesta", "");
        Fila("muda Kretz", "KRETZ", nada, "", "", nulo, "sin respuesta", "");
        Fila("Systel sin número", "Systel1", QByteArray("ST,GS,xx"), "", "0.000", nulo, "ilegible", "");
        Fila("número que no cabe", "Systel1", QByteArray("9E999999"), "", "ERR", nulo, "ilegible", "");
        Fila("KRETZ", "KRETZ", stx + "12.345\r", "", "12.345", QVariant(12.345), "ok", "");
        Fila("KRETZ sin número", "KRETZ", stx + "--.---\r", "", "--.---", nulo, "ilegible", "");
        Fila("100KG", "Bal100KG", QByteArray("00001234"), "", "012.34", QVariant(12.34), "ok", "");
        Fila("otro con unidad", "Libre", QByteArray("12.5 kg "), "", "12.5 kg", nulo, "ilegible", "");
        Fila("otro", "Libre", QByteArray("0012.340"), "", "0012.340", QVariant(12.34), "ok", "");
        const char* sinArchivo = "No such file or directory";
        Fila("puerto que no abre", "Systel1", nada, sinArchivo, "ERROR", nulo, "error", sinArchivo);
    }

    void lectura()
    {
        QFETCH(QString, protocolo);
        QFETCH(QByteArray, respuesta);
        QFETCH(QString, errorAlAbrir);
        QFETCH(QVariant, kg);
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.ProtocoloBalanza = protocolo;
        cfg.Intentos = 1;
        auto balanza = Crear(cfg);
        m_puerto->errorAlAbrir = errorAlAbrir;
        balanza->AbrirPuerto(cfg.PortBalanza, protocolo);
        QList<LecturaBalanza> lecturas;
        balanza->PedirLectura(protocolo, [&](const LecturaBalanza& l) { lecturas.append(l); });
        if (!respuesta.isEmpty()) {
            m_puerto->Llegar(respuesta);
        }
        QTRY_COMPARE(lecturas.size(), 1);
        const LecturaBalanza& l = lecturas[0];
        QTEST(l.peso, "peso");
        QTEST(NombreEstado(l.estado), "estado");
        QTEST(l.detalle, "detalle");
        QCOMPARE(l.kg.has_value(), !kg.isNull());
        if (l.kg) {
            QCOMPARE(*l.kg, kg.toDouble());
        }
        // The document carries the same, as JSON.
        const QJsonObject doc = QJsonDocument::fromJson(DocumentoLectura(l, protocolo, l.instante).toUtf8()).object();
        QTEST(doc.value("peso").toString(), "peso");
        QTEST(doc.value("estado").toString(), "estado");
        QCOMPARE(doc.value("kg").isNull(), kg.isNull());
        QCOMPARE(doc.contains("detalle"), l.estado == LecturaBalanza::Estado::Error);
        QCOMPARE(doc.value("protocolo").toString(), protocolo);
        // A reading that is not ok is never a settled weight.
        if (l.estado != LecturaBalanza::Estado::Ok) {
            QCOMPARE(doc.value("estable").toBool(true), false);
        }
    }

    // Member order, number forms, local time and age, on stopped clocks.
    void documento()
    {
        qint64 ahora = 5000;
        const qint64 hora = QDateTime(QDate(2026, 12, 9), QTime(10, 4, 51, 123)).toMSecsSinceEpoch();
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.PausaIntento = 600000;
        auto puerto = std::make_unique<PuertoFalso>();
        m_puerto = puerto.get();
        Balanza balanza(
            cfg, std::move(puerto), [hora] { return hora; }, [&ahora] { return ahora; });
        QVERIFY(balanza.AbrirPuerto(3, cfg.ProtocoloBalanza));
        ResponderCon(QByteArray("\x07"), QByteArray("00012345"));
        const LecturaBalanza l = Leer(balanza, cfg.ProtocoloBalanza);
        ahora += 42;
        QCOMPARE(DocumentoLectura(l, QStringLiteral("Systel1"), ahora),
                 QStringLiteral("{\"peso\":\"12.345\",\"kg\":12.345,\"estado\":\"ok\",\"estable\":null,"
                                "\"protocolo\":\"Systel1\",\"hora\":\"2026-12-09 10:04:51.123\",\"edadMs\":42}"));
        LecturaBalanza error = l;
        error.peso = QStringLiteral("ERROR");
        error.kg.reset();
        error.estado = LecturaBalanza::Estado::Error;
        error.detalle = QStringLiteral("Permiso \"denegado\"");
        error.estable = false;
        QCOMPARE(DocumentoLectura(error, QStringLiteral("Systel1"), ahora),
                 QStringLiteral("{\"peso\":\"ERROR\",\"kg\":null,\"estado\":\"error\",\"detalle\":\"Permiso "
                                "\\\"denegado\\\"\",\"estable\":false,\"protocolo\":\"Systel1\",\"hora\":"
                                "\"2026-12-09 10:04:51.123\",\"edadMs\":42}"));
    }

    // Whether the weight has held over the window: readings as "ms:peso" ("E" an error), one letter each for the
    // expected answer (t true, f false, n not known yet).
    void estable_data()
    {
        QTest::addColumn<int>("ventana");
        QTest::addColumn<int>("hueco");
        QTest::addColumn<QString>("lecturas");
        QTest::addColumn<QString>("esperado");

        Fila("se mantiene", 500, 500, "0:1 200:1 400:1 600:1", "nnnt");
        Fila("cambia y se asienta", 500, 500, "0:1 200:1 400:2 600:2 800:2 1000:2", "nnffft");
        Fila("un error corta", 500, 500, "0:1 200:E 400:1 600:1 800:1 1000:1", "nfffft");
        Fila("lecturas muy separadas", 500, 500, "0:1 1000:1 1400:1 1600:1", "nnnt");
        Fila("justo la ventana", 500, 500, "0:1 500:1", "nt");
        Fila("ventana cero", 0, 400, "0:1 200:2 400:2", "ttt");
    }

    void estable()
    {
        QFETCH(int, ventana);
        QFETCH(int, hueco);
        QFETCH(QString, lecturas);
        HistorialPesos historial(ventana, hueco);
        QString obtenido;
        for (const QString& par : lecturas.split(u' ')) {
            LecturaBalanza l;
            l.instante = par.section(u':', 0, 0).toLongLong();
            l.peso = par.section(u':', 1);
            l.estado = l.peso == QLatin1String("E") ? LecturaBalanza::Estado::Error : LecturaBalanza::Estado::Ok;
            const std::optional<bool> e = historial.Agregar(l);
            obtenido += !e ? u'n' : (*e ? u't' : u'f');
        }
        QTEST(obtenido, "esperado");
    }

    // Readings taken without a log line: none of the reading's own lines, whatever happens to it.
    void lecturaSinRegistro()
    {
        Configuracion cfg = ConfiguracionDePrueba();
        cfg.Comportamiento = QStringLiteral("PEDIDO");
        auto balanza = Crear(cfg);
        ResponderCon(QByteArray("\x07"), QByteArray("00000500"));
        QList<LecturaBalanza> lecturas;
        balanza->PedirLectura(
            cfg.ProtocoloBalanza, [&](const LecturaBalanza& l) { lecturas << l; }, false);
        QTRY_COMPARE(lecturas.size(), 1);
        m_puerto->errorAlAbrir = QStringLiteral("Permission denied");
        balanza->PedirLectura(
            cfg.ProtocoloBalanza, [&](const LecturaBalanza& l) { lecturas << l; }, false);
        QCOMPARE(lecturas.size(), 2);
        QCOMPARE(lecturas[0].peso, QStringLiteral("0.500"));
        QCOMPARE(lecturas[1].detalle, QStringLiteral("Permission denied"));
        QCOMPARE(Mensajes(), QStringList());
    }

    // A settling weight: the readings go on, paced, until one weight has held; the answer is that weight.
    void esperarEstable()
    {
        const Configuracion cfg = ConfiguracionDeSondeo();
        auto balanza = CrearConReloj(cfg);
        QVERIFY(balanza->AbrirPuerto(3, cfg.ProtocoloBalanza));
        LecturasBalanza lecturas(*balanza, cfg);
        EscalaSucesiva({"00001000", "00001300", "00000900", "00001100", "00001234"});
        QList<LecturaBalanza> a;
        QList<LecturaBalanza> b;
        lecturas.EsperarEstable([&](const LecturaBalanza& l) { a << l; });
        lecturas.EsperarEstable([&](const LecturaBalanza& l) { b << l; });
        QVERIFY(lecturas.Sondeando());
        QTRY_COMPARE_WITH_TIMEOUT(a.size(), 1, 10000);
        QCOMPARE(b.size(), 1);
        QCOMPARE(a[0].estable, std::optional<bool>(true));
        QCOMPARE(a[0].peso, QStringLiteral("1.234"));
        QCOMPARE(b[0].instante, a[0].instante); // the two pages shared the readings
        QVERIFY(!lecturas.Sondeando());
        // Four passing values, then readings of the last one from its first to EstableMs later.
        QCOMPARE(m_puerto->escrito.size(), 4 + 1 + cfg.EstableMs / m_paso);
    }

    // A weight that never settles: after EsperaEstable the last reading, not settled; an error answers at once.
    void esperarEstableSinAsentarse()
    {
        Configuracion cfg = ConfiguracionDeSondeo();
        cfg.EsperaEstable = 150;
        auto balanza = CrearConReloj(cfg);
        QVERIFY(balanza->AbrirPuerto(3, cfg.ProtocoloBalanza));
        LecturasBalanza lecturas(*balanza, cfg);
        auto alterna = std::make_shared<int>(0);
        Escala([alterna] { return QByteArray((++*alterna % 2) ? "00001000" : "00002000"); });
        QList<LecturaBalanza> respuestas;
        lecturas.EsperarEstable([&](const LecturaBalanza& l) { respuestas << l; });
        QTRY_COMPARE_WITH_TIMEOUT(respuestas.size(), 1, 10000);
        QCOMPARE(respuestas[0].estable, std::optional<bool>(false));
        QVERIFY(respuestas[0].peso == QLatin1String("1.000") || respuestas[0].peso == QLatin1String("2.000"));
        QVERIFY(*alterna >= 2);
        QVERIFY(!lecturas.Sondeando());

        m_puerto->FallarDispositivo(QStringLiteral("Input/output error"));
        m_puerto->errorAlAbrir = QStringLiteral("No such file or directory");
        lecturas.EsperarEstable([&](const LecturaBalanza& l) { respuestas << l; });
        QTRY_COMPARE(respuestas.size(), 2);
        QCOMPARE(respuestas[1].estado, LecturaBalanza::Estado::Error);
        QCOMPARE(respuestas[1].estable, std::optional<bool>(false));
        QCOMPARE(respuestas[1].detalle, QStringLiteral("No such file or directory"));
    }

    // Several followers share one schedule: one reading at a time, each one's result to all; single requests meanwhile
    // are answered from the latest reading; the followers hear of changes only; the log gets the changes of state.
    void seguidoresCompartenUnSondeo()
    {
        const Configuracion cfg = ConfiguracionDeSondeo();
        auto balanza = CrearConReloj(cfg);
        QVERIFY(balanza->AbrirPuerto(3, cfg.ProtocoloBalanza));
        LecturasBalanza lecturas(*balanza, cfg);
        m_bitacora->Limpiar();
        QList<LecturaBalanza> vistos[3];
        int ids[3];
        for (int i = 0; i < 3; ++i) {
            ids[i] = lecturas.Suscribir([&vistos, i](const LecturaBalanza& l) { vistos[i] << l; });
        }
        QCOMPARE(lecturas.Suscriptores(), 3);
        QCOMPARE(m_puerto->escrito.size(), 1); // one reading under way, not three
        m_puerto->Llegar("00000750");
        QCOMPARE(vistos[0].size(), 1);
        QCOMPARE(vistos[2].size(), 1);
        QCOMPARE(vistos[1][0].peso, QStringLiteral("0.750"));

        Escala([] { return QByteArray("00000750"); });
        // The same weight, read on: one more change when it has held EstableMs, then silence.
        QTRY_VERIFY_WITH_TIMEOUT(vistos[0].size() == 2, 10000);
        QCOMPARE(vistos[0][1].estable, std::optional<bool>(true));
        const qsizetype leidas = m_puerto->escrito.size();
        QTRY_VERIFY(m_puerto->escrito.size() >= leidas + 5);
        QCOMPARE(vistos[0].size(), 2);

        // A weight request while the schedule runs takes its latest reading: no byte of its own, its log line as ever.
        QString peso;
        lecturas.PedirPeso([&peso](const QString& p) { peso = p; });
        QCOMPARE(peso, QStringLiteral("0.750"));
        QCOMPARE(Mensajes(), QStringList{"?? Peso devuelto: 0.750"});

        // A change reaches everyone, once.
        Escala([] { return QByteArray("00000800"); });
        QTRY_COMPARE_WITH_TIMEOUT(vistos[2].size(), 3, 10000);
        QCOMPARE(vistos[2][2].peso, QStringLiteral("0.800"));
        QCOMPARE(vistos[2][2].estable, std::optional<bool>(false));

        // A silent scale: one line when the state changes, none per reading.
        Escala([] { return QByteArray(); });
        QTRY_VERIFY_WITH_TIMEOUT(
            !vistos[0].isEmpty() && vistos[0].last().estado == LecturaBalanza::Estado::SinRespuesta, 10000);
        const qsizetype mudas = m_puerto->escrito.size();
        QTRY_VERIFY_WITH_TIMEOUT(m_puerto->escrito.size() >= mudas + 3, 10000);
        QCOMPARE(Mensajes(), (QStringList{"?? Peso devuelto: 0.750", "?? Estado de la balanza: sin respuesta"}));

        // The last one to leave stops the polling.
        for (int id : ids) {
            lecturas.Desuscribir(id);
        }
        QVERIFY(!lecturas.Sondeando());
        QTest::qWait(250); // the reading under way ends within one attempt
        const qsizetype alFinal = m_puerto->escrito.size();
        QTest::qWait(20 * cfg.IntervaloBalanza);
        QCOMPARE(m_puerto->escrito.size(), alFinal);
    }

    // A follower who arrives while the schedule runs starts from the latest reading; one who leaves hears no more.
    void seguidorQueLlegaYSeVa()
    {
        const Configuracion cfg = ConfiguracionDeSondeo();
        auto balanza = CrearConReloj(cfg);
        QVERIFY(balanza->AbrirPuerto(3, cfg.ProtocoloBalanza));
        LecturasBalanza lecturas(*balanza, cfg);
        Escala([] { return QByteArray("00000123"); });
        int primero = 0;
        const int id = lecturas.Suscribir([&primero](const LecturaBalanza&) { ++primero; });
        QTRY_COMPARE(primero, 1);
        QStringList segundo;
        int idSegundo = 0;
        idSegundo = lecturas.Suscribir([&](const LecturaBalanza& l) {
            segundo << l.peso;
            lecturas.Desuscribir(idSegundo); // leaving from inside the callback
        });
        QTRY_COMPARE(segundo, QStringList{"0.123"});
        QCOMPARE(lecturas.Suscriptores(), 1);
        QVERIFY(lecturas.DocumentoActual().startsWith(QStringLiteral("{\"peso\":\"0.123\",\"kg\":0.123,")));
        lecturas.Desuscribir(id);
        QCOMPARE(lecturas.Suscriptores(), 0);
    }

    // The port the settings name is marked; a device the system does not list is added.
    void puertos_data()
    {
        QTest::addColumn<QString>("dispositivo");
        QTest::addColumn<QString>("esperado");
        const QString usb =
            QStringLiteral("{\"nombre\":\"ttyUSB0\",\"ruta\":\"/dev/ttyUSB0\",\"descripcion\":\"USB-Serial "
                           "Controller\",\"fabricante\":\"Prolific\",\"vid\":\"067b\",\"pid\":\"2303\","
                           "\"configurado\":%1}");
        const QString s0 = QStringLiteral("{\"nombre\":\"ttyS0\",\"ruta\":\"/dev/ttyS0\",\"descripcion\":\"\","
                                          "\"fabricante\":\"\",\"vid\":null,\"pid\":null,\"configurado\":%1}");
        QTest::newRow("el listado") << "/dev/ttyUSB0"
                                    << "{\"puertos\":[" + usb.arg("true") + "," + s0.arg("false") + "]}";
        QTest::newRow("no listado") << "/tmp/x/ttyBalanza"
                                    << "{\"puertos\":[" + usb.arg("false") + "," + s0.arg("false") +
                                           ",{\"nombre\":\"ttyBalanza\",\"ruta\":\"/tmp/x/ttyBalanza\",\"descripcion\":"
                                           "\"\",\"fabricante\":\"\",\"vid\":null,\"pid\":null,\"configurado\":true}]}";
    }

    void puertos()
    {
        QFETCH(QString, dispositivo);
        QList<PuertoListado> lista;
        lista << PuertoListado{"ttyUSB0", "/dev/ttyUSB0", "USB-Serial Controller", "Prolific", 0x067b, 0x2303};
        lista << PuertoListado{"ttyS0", "/dev/ttyS0", "", "", std::nullopt, std::nullopt};
        Configuracion cfg;
        cfg.DispositivoBalanza = dispositivo;
        QTEST(DocumentoPuertos(lista, cfg), "esperado");
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
