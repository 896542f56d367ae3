// Printing for real: QPrinterInfo, lp and a private CUPS scheduler with its own queues.
#include "support/bitacora.h"
#include "support/cuerpos.h"
#include "support/cups_privado.h"
#include "support/pdf_de_prueba.h"

#include "base/lanzador.h"
#include "printing/catalogo.h"
#include "printing/impresion.h"
#include "printing/visor_lp.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using soporte::Bitacora;
using soporte::CuerpoImpresion;
using soporte::CupsPrivado;
using soporte::PdfDePrueba;

namespace {

const QString kAcento = QString::fromUtf8("Impresión");

} // namespace

class TstCups final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void CatalogoDelSistema();
    void ImprimeEnLaImpresoraPedida_data();
    void ImprimeEnLaImpresoraPedida();
    void LaColaRecibeElDocumento();
    void FalloDeLpQuedaEnElRegistro();
    void SinLpEnElPath();

private:
    CupsPrivado m_cups;
    std::unique_ptr<ListaImpresoras> m_lista;
    std::unique_ptr<LanzadorQt> m_lanzador;
    std::unique_ptr<Impresion> m_impresion;
    QTemporaryDir m_programa;

    QString Imprimir(const QByteArray& cuerpo);
};

void TstCups::initTestCase()
{
    const QString motivo = m_cups.Iniciar();
    if (!motivo.isEmpty()) {
        QSKIP(qPrintable(motivo));
    }
    // CUPS refuses quotes, apostrophes and backslashes in queue names, so escaping is covered with fake printers.
    QVERIFY2(m_cups.AgregarCola(QStringLiteral("Caja")), qPrintable(m_cups.UltimoError()));
    QVERIFY2(m_cups.AgregarCola(kAcento), qPrintable(m_cups.UltimoError()));
    QVERIFY2(m_cups.AgregarCola(QStringLiteral("Archivo"), QStringLiteral("archivo.ps")),
             qPrintable(m_cups.UltimoError()));
    QVERIFY2(m_cups.AgregarCola(QStringLiteral("Rechaza")), qPrintable(m_cups.UltimoError()));
    QVERIFY(m_cups.Rechazar(QStringLiteral("Rechaza")));
    QVERIFY(m_cups.FijarPredeterminada(QStringLiteral("Caja")));

    m_lista = CrearListaImpresorasDelSistema();
    m_lanzador = std::make_unique<LanzadorQt>();
    m_impresion = std::make_unique<Impresion>(m_programa.path(), *m_lista,
                                              std::make_unique<VisorLp>(*m_lanzador, *m_lista), RelojMonotono());
}

void TstCups::cleanupTestCase()
{
    m_impresion.reset();
    m_lanzador.reset();
    m_cups.Detener();
}

QString TstCups::Imprimir(const QByteArray& cuerpo)
{
    auto respuestas = std::make_shared<QStringList>();
    m_impresion->Imprimir(cuerpo, nullptr, [respuestas](const QString& r) { *respuestas << r; });
    if (!QTest::qWaitFor([&] { return !respuestas->isEmpty(); }, 20000)) {
        return QStringLiteral("<sin respuesta>");
    }
    return respuestas->value(0);
}

void TstCups::CatalogoDelSistema()
{
    const QJsonDocument json = QJsonDocument::fromJson(m_impresion->ListarImpresoras().toUtf8());
    QStringList nombres = json.object().value(QStringLiteral("impresoras")).toVariant().toStringList();
    QCOMPARE(nombres.value(0), kPredeterminada);
    nombres.removeFirst();
    nombres.sort();
    QCOMPARE(nombres, (QStringList{"Archivo", "Caja", kAcento, "Rechaza"}));

    QVERIFY(ExisteImpresoraEn(m_lista->Nombres(), QStringLiteral(" caja ")));
    QVERIFY(ExisteImpresoraEn(m_lista->Nombres(), QString::fromUtf8("IMPRESIÓN")));
    QVERIFY(!ExisteImpresoraEn(m_lista->Nombres(), QStringLiteral("Caj")));

    // Read afresh: a queue added now is listed at once.
    QVERIFY(m_cups.AgregarCola(QStringLiteral("Nueva")));
    QVERIFY(m_impresion->ListarImpresoras().contains(QLatin1String("\"Nueva\"")));
}

void TstCups::ImprimeEnLaImpresoraPedida_data()
{
    QTest::addColumn<QString>("pedida");
    QTest::addColumn<QString>("cola");
    QTest::newRow("nombrada") << "Caja"
                              << "Caja";
    QTest::newRow("predeterminada") << "PREDETERMINADA"
                                    << "Caja";
    QTest::newRow("palabra en minúsculas con espacios") << "caja "
                                                        << "Caja";
    QTest::newRow("con acento") << kAcento << kAcento;
    QTest::newRow("otro caso y espacios") << QString::fromUtf8(" IMPRESIÓN ") << kAcento;
}

void TstCups::ImprimeEnLaImpresoraPedida()
{
    QFETCH(QString, pedida);
    QFETCH(QString, cola);
    const int antes = m_cups.UltimoTrabajo();
    const QByteArray pdf = PdfDePrueba("impresora " + pedida.toUtf8().toHex());
    const QString respuesta = Imprimir(CuerpoImpresion(pdf, pedida));
    QCOMPARE(QJsonDocument::fromJson(respuesta.toUtf8()).object().value(QStringLiteral("impresora")).toString(),
             pedida);
    const auto nuevos = m_cups.TrabajosTerminadosDesde(antes, 1);
    QCOMPARE(nuevos.size(), 1);
    QCOMPARE(nuevos[0].impresora, cola);
    QVERIFY(nuevos[0].ajustarPagina);
    QCOMPARE(m_cups.Documento(nuevos[0].id), pdf);
}

void TstCups::LaColaRecibeElDocumento()
{
    const QString salida = m_cups.CarpetaSalida() + QStringLiteral("/archivo.ps");
    const int antes = m_cups.UltimoTrabajo();
    QCOMPARE(Imprimir(CuerpoImpresion(PdfDePrueba("hola Archivo"), QStringLiteral("Archivo"))),
             QStringLiteral("{\"success\":true,\"impresora\":\"Archivo\"}"));
    QCOMPARE(m_cups.TrabajosTerminadosDesde(antes, 1).value(0).estado, QStringLiteral("completed"));
    QFile archivo(salida);
    QVERIFY2(archivo.open(QIODevice::ReadOnly), qPrintable(m_cups.Bitacora().right(2000)));
    QVERIFY(archivo.read(4) == "%!PS");
}

void TstCups::FalloDeLpQuedaEnElRegistro()
{
    Bitacora bitacora;
    // The answer goes out as soon as lp runs; its refusal comes later and lands in the log.
    QCOMPARE(Imprimir(CuerpoImpresion(PdfDePrueba("rechazado"), QStringLiteral("Rechaza"))),
             QStringLiteral("{\"success\":true,\"impresora\":\"Rechaza\"}"));
    QTRY_VERIFY_WITH_TIMEOUT(bitacora.Contiene(QStringLiteral("? lp terminó con código 1: ")), 20000);
    const QString linea = bitacora.Mensajes().filter(QStringLiteral("? lp terminó con código 1: ")).value(0);
    QVERIFY2(linea.contains(QLatin1String("Destination \"Rechaza\" is not accepting jobs. | Comando: lp -d Rechaza "
                                          "-o fit-to-page < ")),
             qPrintable(linea));
}

void TstCups::SinLpEnElPath()
{
    const QByteArray path = qgetenv("PATH");
    QTemporaryDir vacia;
    qputenv("PATH", QFile::encodeName(vacia.path()));
    Bitacora bitacora;
    const QString respuesta = Imprimir(CuerpoImpresion(PdfDePrueba("sin lp"), QStringLiteral("Caja")));
    qputenv("PATH", path);
    QCOMPARE(respuesta, QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}"));
    QVERIFY(bitacora.Mensajes().contains("? No se encontró lp en: " + vacia.path()));
    QCOMPARE(bitacora.Mensajes().last(), QStringLiteral("? Error al imprimir en: Caja"));
}

QTEST_MAIN(TstCups)
#include "tst_cups.moc"
