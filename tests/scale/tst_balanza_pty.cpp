// The scale link against a real pseudo-terminal pair opened in-process.
#include "balanza-simulada/pseudoterminal.h"
#include "support/bitacora.h"

#include "base/registro.h"
#include "scale/balanza.h"
#include "scale/puerto_serie_qt.h"

#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// The scale side of an in-process pseudo-terminal: records what arrives and answers through `responder`.
class Otroextremo final : public QObject
{
public:
    explicit Otroextremo(Pseudoterminal& pty)
        : m_pty(pty)
        , m_lector(pty.Descriptor(), QSocketNotifier::Read)
    {
        connect(&m_lector, &QSocketNotifier::activated, this, [this] {
            const QByteArray llegado = m_pty.Leer();
            recibido += llegado;
            if (responder && !llegado.isEmpty()) {
                responder(llegado);
            }
        });
    }
    void Apagar() { m_lector.setEnabled(false); }

    QByteArray recibido;
    std::function<void(const QByteArray&)> responder;

private:
    Pseudoterminal& m_pty;
    QSocketNotifier m_lector;
};

} // namespace

class TestBalanzaPty final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<soporte::Bitacora> m_bitacora;

    const QStringList& Mensajes() const { return m_bitacora->Mensajes(); }

    static Configuracion Cfg(const QString& dispositivo, const QString& protocolo)
    {
        Configuracion cfg;
        cfg.DispositivoBalanza = dispositivo;
        cfg.ProtocoloBalanza = protocolo;
        cfg.Intentos = 5;
        cfg.PausaIntento = 200;
        return cfg;
    }

    static std::unique_ptr<Balanza> Crear(const Configuracion& cfg)
    {
        return std::make_unique<Balanza>(cfg, CrearPuertoSerieDelSistema(cfg));
    }

    // Runs one weight request to its end in a local event loop, with a generous limit.
    static QString Pesar(Balanza& balanza, const QString& protocolo)
    {
        QString resultado = QStringLiteral("<sin respuesta>");
        QEventLoop bucle;
        QTimer limite;
        limite.setSingleShot(true);
        connect(&limite, &QTimer::timeout, &bucle, &QEventLoop::quit);
        limite.start(15000);
        bool terminado = false;
        balanza.PedirPeso(protocolo, [&](const QString& r) {
            resultado = r;
            terminado = true;
            bucle.quit();
        });
        if (!terminado) {
            bucle.exec();
        }
        return resultado;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_bitacora = std::make_unique<soporte::Bitacora>();
    }

    void cleanup()
    {
        m_bitacora.reset();
        m_dir.reset();
    }

    // The profile's line settings really reach the device: read back from the other side of the pair.
    void ajustesAplicados_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QString>("linea");
        QTest::newRow("KRETZ dos bits de parada") << "KRETZ"
                                                  << "9600,n,8,2";
        QTest::newRow("Systel1") << "Systel1"
                                 << "9600,n,8,1";
        QTest::newRow("systel3") << "systel3"
                                 << "9600,n,8,1";
        QTest::newRow("desconocido") << "Bal100KG"
                                     << "9600,n,8,1";
    }

    void ajustesAplicados()
    {
        QFETCH(QString, protocolo);
        Pseudoterminal pty;
        QString error;
        QVERIFY2(pty.Abrir(error), qPrintable(error));
        QVERIFY(pty.AjustesLinea() != QStringLiteral("9600,n,8,2")); // what a fresh pair starts with differs
        auto balanza = Crear(Cfg(pty.Dispositivo(), protocolo));
        QVERIFY(balanza->AbrirPuerto(3, protocolo));
        QTEST(pty.AjustesLinea(), "linea");
        QCOMPARE(Mensajes().last(), QStringLiteral("? Puerto COM3 abierto con protocolo: ") + protocolo);
        QVERIFY(balanza->CerrarPuerto());
        QVERIFY(!balanza->PuertoAbierto());
    }

    void lecturaCompleta()
    {
        Pseudoterminal pty;
        QString error;
        QVERIFY2(pty.Abrir(error), qPrintable(error));
        Otroextremo balanzaReal(pty);
        balanzaReal.responder = [&pty](const QByteArray& llegado) {
            if (llegado.contains('\x07')) {
                QTimer::singleShot(30, [&pty] { pty.Escribir("00012345"); });
            }
        };
        auto balanza = Crear(Cfg(pty.Dispositivo(), QStringLiteral("Systel1")));
        QVERIFY(balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        QCOMPARE(Pesar(*balanza, QStringLiteral("Systel1")), QStringLiteral("12.345"));
        QCOMPARE(balanzaReal.recibido, QByteArray("\x07"));
        QCOMPARE(Mensajes().last(), QStringLiteral("?? Peso devuelto: 12.345"));
    }

    // What the scale sent while nobody was reading is dropped, even when it is still in the driver.
    void bytesViejosDescartados()
    {
        Pseudoterminal pty;
        QString error;
        QVERIFY2(pty.Abrir(error), qPrintable(error));
        Otroextremo balanzaReal(pty);
        Configuracion cfg = Cfg(pty.Dispositivo(), QStringLiteral("Systel1"));
        auto puerto = std::make_unique<PuertoSerieQt>(pty.Dispositivo());
        QSignalSpy llegadas(puerto.get(), &PuertoSerie::datosRecibidos);
        Balanza balanza(cfg, std::move(puerto));
        QVERIFY(balanza.AbrirPuerto(3, cfg.ProtocoloBalanza));
        QVERIFY(pty.Escribir("99999999"));
        QTRY_VERIFY(llegadas.count() > 0);
        QVERIFY(pty.Escribir("88888888")); // still in the driver when the reading starts
        balanzaReal.responder = [&pty](const QByteArray&) {
            QTimer::singleShot(20, [&pty] { pty.Escribir("00000001"); });
        };
        QCOMPARE(Pesar(balanza, cfg.ProtocoloBalanza), QStringLiteral("0.001"));
    }

    // The other side goes away in the middle of a reply: the reading fails, the port is closed, and the next
    // reading opens it again once the device is back.
    void cuelgaDuranteLaLectura()
    {
        auto pty = std::make_unique<Pseudoterminal>();
        QString error;
        QVERIFY2(pty->Abrir(error), qPrintable(error));
        const QString enlace = m_dir->filePath(QStringLiteral("ttyBalanza"));
        QVERIFY(QFile::link(pty->Dispositivo(), enlace));
        auto balanzaReal = std::make_unique<Otroextremo>(*pty);
        Pseudoterminal* crudo = pty.get();
        Otroextremo* extremo = balanzaReal.get();
        balanzaReal->responder = [crudo, extremo](const QByteArray&) {
            crudo->Escribir("0001");
            QTimer::singleShot(20, [crudo, extremo] {
                extremo->Apagar();
                crudo->Cerrar();
            });
        };
        Configuracion cfg = Cfg(enlace, QStringLiteral("Systel1"));
        cfg.PausaIntento = 1000;
        cfg.Intentos = 25;
        auto balanza = Crear(cfg);
        QVERIFY(balanza->AbrirPuerto(3, cfg.ProtocoloBalanza));
        m_bitacora->Limpiar();
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("ERROR"));
        QCOMPARE(Mensajes().size(), 1);
        QVERIFY2(Mensajes()[0].startsWith(QStringLiteral("? Error en PedirPeso: ")), qPrintable(Mensajes()[0]));
        QVERIFY(Mensajes()[0].size() > QStringLiteral("? Error en PedirPeso: ").size());
        QVERIFY(!balanza->PuertoAbierto());

        // The device comes back under the same name.
        balanzaReal.reset();
        pty.reset();
        QFile::remove(enlace);
        Pseudoterminal nuevo;
        QVERIFY2(nuevo.Abrir(error), qPrintable(error));
        QVERIFY(QFile::link(nuevo.Dispositivo(), enlace));
        Otroextremo otro(nuevo);
        otro.responder = [&nuevo](const QByteArray&) { nuevo.Escribir("00004321"); };
        m_bitacora->Limpiar();
        QCOMPARE(Pesar(*balanza, cfg.ProtocoloBalanza), QStringLiteral("4.321"));
        QCOMPARE(Mensajes(), (QStringList{"? Puerto COM3 abierto con protocolo: Systel1", "?? Peso devuelto: 4.321"}));
    }

    void dispositivoInexistente()
    {
        const QString ruta = m_dir->filePath(QStringLiteral("no-existe"));
        auto balanza = Crear(Cfg(ruta, QStringLiteral("Systel1")));
        QVERIFY(!balanza->AbrirPuerto(3, QStringLiteral("Systel1")));
        QCOMPARE(Mensajes().size(), 1);
        QVERIFY2(Mensajes()[0].startsWith(QStringLiteral("? Error al abrir puerto COM3: ")), qPrintable(Mensajes()[0]));
        QVERIFY(Mensajes()[0].contains(ruta));
        QCOMPARE(Pesar(*balanza, QStringLiteral("Systel1")), QStringLiteral("ERROR"));
    }
};

QTEST_GUILESS_MAIN(TestBalanzaPty)
#include "tst_balanza_pty.moc"
