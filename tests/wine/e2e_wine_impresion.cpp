// The Windows agent's printing under Wine, with a CUPS scheduler of the test's behind Wine's spooler: Wine lists
// the scheduler's queues as Windows printers and hands their jobs on to it. Wine implements neither EnumJobs nor
// GetJob, so a job's state here is never more than what the agent itself knows.
#include "agente_wine.h"
#include "support/cups_privado.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using soporte::RespuestaHttp;

namespace {

QJsonObject Json(const QByteArray& texto)
{
    return QJsonDocument::fromJson(texto).object();
}

QStringList Nombres(const QJsonArray& lista)
{
    QStringList nombres;
    for (const QJsonValue& v : lista) {
        nombres << (v.isObject() ? v.toObject().value(QStringLiteral("nombre")).toString() : v.toString());
    }
    return nombres;
}

} // namespace

class E2eWineImpresion final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void colasYDetalle();
    void impresionDirecta();
    void opcionesParaSumatra_data();
    void opcionesParaSumatra();

private:
    // Started with the scheduler's queues in place: Wine reads them as a program starts.
    void Iniciar(AgenteWine& agente);

    soporte::CupsPrivado m_cups;
    QTcpServer m_red; // the label printer on the network
};

void E2eWineImpresion::initTestCase()
{
    QString error = AgenteWine::PrepararPrefijo();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = m_cups.Iniciar();
    if (!error.isEmpty()) {
        QSKIP(qPrintable(error));
    }
    QVERIFY(m_red.listen(QHostAddress::LocalHost));
    QVERIFY2(m_cups.AgregarCola(QStringLiteral("Caja")) && m_cups.FijarPredeterminada(QStringLiteral("Caja")) &&
                 m_cups.AgregarColaEn(QStringLiteral("Etiquetas"),
                                      QStringLiteral("socket://127.0.0.1:%1").arg(m_red.serverPort())),
             qPrintable(m_cups.UltimoError()));
}

void E2eWineImpresion::Iniciar(AgenteWine& agente)
{
    agente.FijarEntorno(QStringLiteral("CUPS_SERVER"), m_cups.Socket());
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY(agente.Iniciar());
}

void E2eWineImpresion::colasYDetalle()
{
    AgenteWine agente;
    Iniciar(agente);
    const QStringList impresoras =
        Nombres(Json(agente.Get(QStringLiteral("/impresoras")).cuerpo).value(QStringLiteral("impresoras")).toArray());
    QCOMPARE(impresoras.value(0), QStringLiteral("PREDETERMINADA"));
    QVERIFY2(impresoras.contains(QLatin1String("Caja")) && impresoras.contains(QLatin1String("Etiquetas")),
             qPrintable(impresoras.join(u',')));
    // The same printers, in the same order, with what the spooler tells of them.
    const QJsonArray detalle =
        Json(agente.Get(QStringLiteral("/impresoras/detalle")).cuerpo).value(QStringLiteral("impresoras")).toArray();
    QCOMPARE(Nombres(detalle), impresoras.mid(1));
    for (const QJsonValue& v : detalle) {
        const QJsonObject impresora = v.toObject();
        QCOMPARE(impresora.value(QStringLiteral("predeterminada")).toBool(),
                 impresora.value(QStringLiteral("nombre")).toString() == QLatin1String("Caja"));
        QVERIFY(QStringList({"lista", "imprimiendo", "detenida", "desconocido"})
                    .contains(impresora.value(QStringLiteral("estado")).toString()));
    }
}

void E2eWineImpresion::impresionDirecta()
{
    AgenteWine agente;
    Iniciar(agente);
    const QByteArray datos("\x1b@hola\x00\xff\r\n\x1dV\x00", 13);
    const QJsonObject cuerpo{{"base64", QString::fromLatin1(datos.toBase64())}, {"nombreImpresora", "etiquetas"}};
    const RespuestaHttp respuesta =
        agente.Post(QStringLiteral("/print-raw"), QJsonDocument(cuerpo).toJson(QJsonDocument::Compact));
    const QString trabajo = Json(respuesta.cuerpo).value(QStringLiteral("trabajo")).toString();
    QCOMPARE(QString::fromUtf8(respuesta.cuerpo),
             QStringLiteral("{\"success\":true,\"impresora\":\"etiquetas\",\"trabajo\":\"%1\"}").arg(trabajo.toInt()));

    // Wine's spooler, then CUPS, then the printer's socket: the bytes unchanged.
    QVERIFY(QTest::qWaitFor([this] { return m_red.hasPendingConnections(); }, 60000));
    QTcpSocket* conexion = m_red.nextPendingConnection();
    QByteArray recibido;
    QVERIFY(QTest::qWaitFor(
        [&] {
            recibido += conexion->readAll();
            return conexion->state() != QAbstractSocket::ConnectedState;
        },
        30000));
    QCOMPARE(recibido + conexion->readAll(), datos);

    const QString estado =
        Json(agente.Get(QStringLiteral("/trabajos/") + trabajo).cuerpo).value(QStringLiteral("estado")).toString();
    QVERIFY2(estado == QLatin1String("enviado") || estado == QLatin1String("desconocido"), qPrintable(estado));
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("?? Impresión directa en: etiquetas (13 bytes)")));
}

void E2eWineImpresion::opcionesParaSumatra_data()
{
    QTest::addColumn<QString>("opciones");
    QTest::addColumn<QString>("ajustes"); // what follows -print-settings
    QTest::newRow("copias y páginas") << "\"copias\":2,\"paginas\":\"1-3,5\""
                                      << "fit,2x,1-3,5";
    QTest::newRow("horizontal a doble cara") << "\"orientacion\":\"horizontal\",\"duplex\":\"corto\""
                                             << "fit,landscape,duplexshort";
    QTest::newRow("tamaño real en monocromo") << "\"escala\":\"real\",\"color\":\"monocromo\""
                                              << "noscale,monochrome";
}

void E2eWineImpresion::opcionesParaSumatra()
{
    QFETCH(QString, opciones);
    QFETCH(QString, ajustes);
    AgenteWine agente;
    const QString sumatra = QDir(agente.Carpeta()).filePath(QStringLiteral("SumatraPDF-3.5.2-32.exe"));
    QVERIFY(QFile::copy(
        QDir(qEnvironmentVariable("TORNAVO_SUSTITUTOS")).filePath(QStringLiteral("SumatraPDF-3.5.2-32.exe")), sumatra));
    Iniciar(agente);
    const QByteArray cuerpo = "{\"base64\":\"" + QByteArray("%PDF-1.4\n%%EOF\n").toBase64() +
                              "\",\"nombreImpresora\":\"Caja\"," + opciones.toUtf8() + '}';
    QCOMPARE(Json(agente.Post(QStringLiteral("/print-base64"), cuerpo).cuerpo).value(QStringLiteral("success")),
             QJsonValue(true));
    // The stand-in writes one "arg:" line per argument once it has run.
    QFile registro(sumatra + QStringLiteral(".1.txt"));
    QVERIFY(QTest::qWaitFor([&] { return registro.exists(); }, 20000));
    QStringList argumentos;
    QVERIFY(QTest::qWaitFor(
        [&] {
            argumentos =
                registro.open(QIODevice::ReadOnly) ? QString::fromUtf8(registro.readAll()).split(u'\n') : QStringList();
            registro.close();
            return argumentos.filter(QStringLiteral("arg:")).size() >= 5;
        },
        20000));
    QCOMPARE(argumentos.filter(QStringLiteral("arg:")).mid(0, 5),
             (QStringList{"arg:-print-to", "arg:Caja", "arg:-print-settings", "arg:" + ajustes, "arg:-silent"}));
}

QTEST_GUILESS_MAIN(E2eWineImpresion)
#include "e2e_wine_impresion.moc"
