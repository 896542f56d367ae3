// Printing for real: QPrinterInfo, CUPS's library and a private CUPS scheduler with its own queues.
#include "support/bitacora.h"
#include "support/cuerpos.h"
#include "support/cups_privado.h"
#include "support/pdf_de_prueba.h"
#include "support/soporte.h"

#include "printing/impresion.h"
#include "printing/lista_impresoras.h"
#include "printing/spooler.h"
#include "printing/visor_cups.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPrinterInfo>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using soporte::Bitacora;
using soporte::CuerpoImpresion;
using soporte::CupsPrivado;
using soporte::Fila;
using soporte::PdfDePrueba;
using soporte::UnicaRespuesta;

namespace {

const QString kAcento = QString::fromUtf8("Impresión");

QJsonObject Json(const QString& texto)
{
    return QJsonDocument::fromJson(texto.toUtf8()).object();
}

// A network label printer (port 9100): keeps whatever each connection sends.
class ImpresoraDeRed final
{
public:
    ImpresoraDeRed() { m_servidor.listen(QHostAddress::LocalHost); }
    QString Uri() const { return QStringLiteral("socket://127.0.0.1:%1").arg(m_servidor.serverPort()); }
    // The bytes of the next connection, once its sender has closed it.
    QByteArray Recibido()
    {
        if (!QTest::qWaitFor([this] { return m_servidor.hasPendingConnections(); }, 30000)) {
            return "<sin conexión>";
        }
        QTcpSocket* s = m_servidor.nextPendingConnection();
        QByteArray datos;
        // A sender that never closes is judged by the comparison that follows.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                datos += s->readAll();
                return s->state() != QAbstractSocket::ConnectedState;
            },
            30000));
        return datos + s->readAll();
    }

private:
    QTcpServer m_servidor;
};

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
    void RechazoDeCupsQuedaEnElRegistro();
    void ColaInexistente();

    void OpcionesEnElTrabajo_data();
    void OpcionesEnElTrabajo();
    void ImpresionDirecta_data();
    void ImpresionDirecta();
    void DirectaRechazada();
    void EstadosDeTrabajos_data();
    void EstadosDeTrabajos();
    void DetalleDeLasColas();

private:
    CupsPrivado m_cups;
    std::unique_ptr<ListaImpresoras> m_lista;
    std::unique_ptr<Spooler> m_spoolerVisor;
    std::unique_ptr<Impresion> m_impresion;
    QTemporaryDir m_programa;
    ImpresoraDeRed m_red;

    // An answer that comes through a callback, once it has come (or "<sin respuesta>").
    static QString Esperar(const std::function<void(Responder)>& pedir) { return UnicaRespuesta(pedir, 20000); }
    // POST /print-base64 and POST /print-raw.
    QString Imprimir(const QByteArray& cuerpo)
    {
        return Esperar([&](Responder r) { m_impresion->Imprimir(cuerpo, nullptr, std::move(r)); });
    }
    QString ImprimirDirecto(const QByteArray& datos, const QString& impresora)
    {
        const QByteArray cuerpo = CuerpoImpresion(datos, impresora);
        return Esperar([&](Responder r) { m_impresion->ImprimirDirecto(cuerpo, std::move(r)); });
    }
    // The agent's job state, asked until it is `estado` (or a minute has passed).
    QJsonObject EsperarEstado(const QString& trabajo, const QString& estado);
};

void TstCups::initTestCase()
{
    const QString motivo = m_cups.Iniciar();
    if (!motivo.isEmpty()) {
        QSKIP(qPrintable(motivo));
    }
    // CUPS refuses quotes, apostrophes and backslashes in queue names, so escaping is covered with fake printers.
    // A laser with papers and trays, stopped so that its jobs wait to be read; a label printer on the network;
    // one whose device is missing. The first step that fails stops the rest, its reason in UltimoError().
    QVERIFY2(m_cups.AgregarCola(QStringLiteral("Caja")) && m_cups.AgregarCola(kAcento) &&
                 m_cups.AgregarCola(QStringLiteral("Archivo"), QStringLiteral("archivo.ps")) &&
                 m_cups.AgregarCola(QStringLiteral("Rechaza")) && m_cups.Rechazar(QStringLiteral("Rechaza")) &&
                 m_cups.FijarPredeterminada(QStringLiteral("Caja")) &&
                 m_cups.AgregarColaEn(QStringLiteral("Laser"), QStringLiteral("file:///dev/null"),
                                      QStringLiteral("drv:///sample.drv/laserjet.ppd")) &&
                 m_cups.Deshabilitar(QStringLiteral("Laser")) &&
                 m_cups.AgregarColaEn(QStringLiteral("Etiquetas"), m_red.Uri()) &&
                 m_cups.AgregarColaEn(QStringLiteral("Rota"), QStringLiteral("serial:/noexiste/tty")),
             qPrintable(m_cups.UltimoError()));

    m_lista = CrearListaImpresorasDelSistema();
    m_spoolerVisor = CrearSpoolerDelSistema();
    m_impresion =
        std::make_unique<Impresion>(m_programa.path(), *m_lista, std::make_unique<VisorCups>(*m_spoolerVisor, *m_lista),
                                    RelojDelSistema(), CrearSpoolerDelSistema());
}

void TstCups::cleanupTestCase()
{
    m_impresion.reset();
    m_spoolerVisor.reset();
    m_cups.Detener();
}

QJsonObject TstCups::EsperarEstado(const QString& trabajo, const QString& estado)
{
    QJsonObject json;
    // The caller compares the state it got.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            json = Json(Esperar([&](Responder r) { m_impresion->ConsultarTrabajo(trabajo, std::move(r)); }));
            return json.value(QStringLiteral("estado")).toString() == estado;
        },
        60000));
    return json;
}

void TstCups::CatalogoDelSistema()
{
    const QJsonDocument json = QJsonDocument::fromJson(m_impresion->ListarImpresoras().toUtf8());
    QStringList nombres = json.object().value(QStringLiteral("impresoras")).toVariant().toStringList();
    QCOMPARE(nombres.value(0), kPredeterminada);
    nombres.removeFirst();
    nombres.sort();
    QCOMPARE(nombres, (QStringList{"Archivo", "Caja", "Etiquetas", kAcento, "Laser", "Rechaza", "Rota"}));

    QVERIFY(ExisteImpresoraEn(m_lista->Nombres(), QStringLiteral(" caja ")));
    QVERIFY(ExisteImpresoraEn(m_lista->Nombres(), QString::fromUtf8("IMPRESIÓN")));
    QVERIFY(!ExisteImpresoraEn(m_lista->Nombres(), QStringLiteral("Caj")));
    // The names and order Qt's print support would give.
    QCOMPARE(m_lista->Nombres(), QPrinterInfo::availablePrinterNames());

    // Read afresh: a queue added now is listed at once.
    QVERIFY(m_cups.AgregarCola(QStringLiteral("Nueva")));
    QVERIFY(m_impresion->ListarImpresoras().contains(QLatin1String("\"Nueva\"")));
    // The check before a print reads the queues from CUPS itself; its refusal shows the catalogue byte for byte.
    QCOMPARE(Imprimir(CuerpoImpresion(PdfDePrueba("ninguna"), QStringLiteral("Caj"))),
             "{\"success\":false,\"error\":\"Impresora no encontrada: Caj\",\"impresorasDisponibles\":" +
                 m_impresion->ListarImpresoras() + u'}');
    QCOMPARE(ImprimirDirecto("^XA^XZ", QStringLiteral("Nuev")),
             "{\"success\":false,\"error\":\"Impresora no encontrada: Nuev\",\"impresorasDisponibles\":" +
                 m_impresion->ListarImpresoras() + u'}');
}

void TstCups::ImprimeEnLaImpresoraPedida_data()
{
    QTest::addColumn<QString>("pedida");
    QTest::addColumn<QString>("cola");
    QTest::addColumn<int>("relleno"); // bytes beyond the page
    Fila("nombrada", "Caja", "Caja", 0);
    Fila("predeterminada", "PREDETERMINADA", "Caja", 0);
    Fila("palabra en minúsculas con espacios", "caja ", "Caja", 0);
    Fila("con acento", kAcento, kAcento, 0);
    Fila("otro caso y espacios", " IMPRESIÓN ", kAcento, 0);
    Fila("300 KB en trozos", "Caja", "Caja", 300 * 1024);
}

void TstCups::ImprimeEnLaImpresoraPedida()
{
    QFETCH(QString, pedida);
    QFETCH(QString, cola);
    QFETCH(int, relleno);
    const int antes = m_cups.UltimoTrabajo();
    const QByteArray pdf = PdfDePrueba("impresora " + pedida.toUtf8().toHex(), relleno);
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
    const QString respuesta = Imprimir(CuerpoImpresion(PdfDePrueba("hola Archivo"), QStringLiteral("Archivo")));
    QCOMPARE(respuesta, QStringLiteral("{\"success\":true,\"impresora\":\"Archivo\",\"trabajo\":\"%1\"}")
                            .arg(Json(respuesta).value(QStringLiteral("trabajo")).toString().toInt()));
    QCOMPARE(m_cups.TrabajosTerminadosDesde(antes, 1).value(0).estado, QStringLiteral("completed"));
    QFile archivo(salida);
    QVERIFY2(archivo.open(QIODevice::ReadOnly), qPrintable(m_cups.Bitacora().right(2000)));
    QVERIFY(archivo.read(4) == "%!PS");
}

void TstCups::RechazoDeCupsQuedaEnElRegistro()
{
    Bitacora bitacora;
    // CUPS refuses before the answer goes out: the print is not taken for started, and the log has CUPS's reason.
    const QString respuesta = Imprimir(CuerpoImpresion(PdfDePrueba("rechazado"), QStringLiteral("Rechaza")));
    QCOMPARE(respuesta, QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}"));
    const QString linea =
        bitacora.Mensajes().filter(QStringLiteral("? CUPS no aceptó la impresión en Rechaza: ")).value(0);
    QVERIFY2(linea.contains(QLatin1String("not accepting jobs")), qPrintable(bitacora.Mensajes().join(u'\n')));
    QCOMPARE(bitacora.Mensajes().last(), QStringLiteral("? Error al imprimir en: Rechaza"));
}

void TstCups::ColaInexistente()
{
    // A queue removed after the agent's check: nothing starts, and CUPS's reason is logged.
    VisorCups visor(*m_spoolerVisor, *m_lista);
    Bitacora bitacora;
    QList<bool> inicios;
    visor.ImprimirPDF(m_programa.filePath(QStringLiteral("archivo_recibido_0.pdf")), QStringLiteral(" Fantasma "),
                      PdfDePrueba("fantasma"), [&](bool i) { inicios << i; });
    QTRY_COMPARE_WITH_TIMEOUT(inicios, QList<bool>{false}, 20000);
    QCOMPARE(bitacora.Mensajes().size(), 1);
    QVERIFY2(bitacora.Mensajes()[0].startsWith(QStringLiteral("? CUPS no aceptó la impresión en Fantasma: ")) &&
                 bitacora.Mensajes()[0].contains(QLatin1String("does not exist")),
             qPrintable(bitacora.Mensajes()[0]));
}

void TstCups::OpcionesEnElTrabajo_data()
{
    QTest::addColumn<QString>("opciones"); // members added to the body
    QTest::addColumn<QString>("atributo");
    QTest::addColumn<QString>("valor"); // as ipptool shows it
    Fila("sin opciones", "", "fit-to-page", "true");
    Fila("copias", "\"copias\":3", "copies", "3");
    Fila("páginas", "\"paginas\":\"1-3,5\"", "page-ranges", "1-3,5-5");
    Fila("vertical", "\"orientacion\":\"vertical\"", "orientation-requested", "portrait");
    Fila("horizontal", "\"orientacion\":\"horizontal\"", "orientation-requested", "landscape");
    Fila("reducir", "\"escala\":\"reducir\"", "print-scaling", "auto");
    Fila("real", "\"escala\":\"real\"", "print-scaling", "none");
    Fila("una cara", "\"duplex\":\"no\"", "sides", "one-sided");
    Fila("borde largo", "\"duplex\":\"largo\"", "sides", "two-sided-long-edge");
    Fila("borde corto", "\"duplex\":\"corto\"", "sides", "two-sided-short-edge");
    Fila("color", "\"color\":\"color\"", "print-color-mode", "color");
    Fila("monocromo", "\"color\":\"monocromo\"", "print-color-mode", "monochrome");
    Fila("papel", "\"papel\":\"A4\"", "media", "A4");
    Fila("bandeja", "\"bandeja\":\"tray-2\"", "media-source", "tray-2");
}

void TstCups::OpcionesEnElTrabajo()
{
    QFETCH(QString, opciones);
    QFETCH(QString, atributo);
    QFETCH(QString, valor);
    const int antes = m_cups.UltimoTrabajo();
    const QByteArray cuerpo = CuerpoImpresion(PdfDePrueba("opciones"), QStringLiteral("Laser"), opciones.toUtf8());
    const QString trabajo = Json(Imprimir(cuerpo)).value(QStringLiteral("trabajo")).toString();
    QVERIFY(!trabajo.isEmpty());
    // The disabled queue keeps the job waiting, its attributes as the agent gave them.
    QCOMPARE(EsperarEstado(trabajo, QStringLiteral("en cola")).value(QStringLiteral("impresora")).toString(),
             QStringLiteral("Laser"));
    const int id = m_cups.UltimoTrabajo();
    QCOMPARE(id, antes + 1);
    const auto atributos = m_cups.Atributos(id);
    QCOMPARE(atributos.value(atributo), valor);
    QVERIFY(m_cups.Cancelar(id));
}

void TstCups::ImpresionDirecta_data()
{
    QTest::addColumn<QByteArray>("datos");
    QTest::newRow("ESC/POS con NUL y 0xFF") << QByteArray("\x1b@hola\x00\xff\n\x1dV\x00", 12);
    QByteArray grande(300 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < grande.size(); ++i) {
        grande[i] = static_cast<char>((i * 7919) >> 3);
    }
    QTest::newRow("300 KB en trozos") << grande;
}

void TstCups::ImpresionDirecta()
{
    QFETCH(QByteArray, datos);
    Bitacora bitacora;
    const QString respuesta = ImprimirDirecto(datos, QStringLiteral(" etiquetas "));
    const QString trabajo = Json(respuesta).value(QStringLiteral("trabajo")).toString();
    QCOMPARE(
        respuesta,
        QStringLiteral("{\"success\":true,\"impresora\":\" etiquetas \",\"trabajo\":\"%1\"}").arg(trabajo.toInt()));
    QCOMPARE(m_red.Recibido(), datos);
    QCOMPARE(EsperarEstado(trabajo, QStringLiteral("terminado")).value(QStringLiteral("detalle")).toString(),
             QString());
    QCOMPARE(bitacora.Mensajes(),
             QStringList{QStringLiteral("?? Impresión directa en:  etiquetas  (%1 bytes)").arg(datos.size())});
}

void TstCups::DirectaRechazada()
{
    Bitacora bitacora;
    QCOMPARE(ImprimirDirecto("^XA^XZ", QStringLiteral("Rechaza")),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}"));
    // The scheduler's own reason, read from its IPP answer.
    QCOMPARE(bitacora.Mensajes().size(), 1);
    QVERIFY2(bitacora.Mensajes().value(0).startsWith(QLatin1String("? Error al imprimir en: Rechaza (6 bytes): ")) &&
                 bitacora.Mensajes().value(0).contains(QLatin1String("not accepting jobs")),
             qPrintable(bitacora.Mensajes().join(u'\n')));
}

void TstCups::EstadosDeTrabajos_data()
{
    QTest::addColumn<QString>("impresora");
    QTest::addColumn<bool>("cancelar");
    QTest::addColumn<QString>("estado");
    QTest::addColumn<QString>("detalle"); // part of it
    Fila("cola detenida", "Laser", false, "en cola", "");
    Fila("cancelado", "Laser", true, "cancelado", "");
    Fila("dispositivo que no existe", "Rota", false, "fallido", "serial");
}

void TstCups::EstadosDeTrabajos()
{
    QFETCH(QString, impresora);
    QFETCH(bool, cancelar);
    QFETCH(QString, estado);
    QFETCH(QString, detalle);
    const QString trabajo =
        Json(ImprimirDirecto("^XA^FDhola^FS^XZ", impresora)).value(QStringLiteral("trabajo")).toString();
    QVERIFY(!trabajo.isEmpty());
    if (cancelar) {
        QVERIFY(m_cups.Cancelar(m_cups.UltimoTrabajo()));
    }
    const QJsonObject json = EsperarEstado(trabajo, estado);
    QCOMPARE(json.value(QStringLiteral("estado")).toString(), estado);
    QVERIFY2(json.value(QStringLiteral("detalle")).toString().contains(detalle, Qt::CaseInsensitive),
             qPrintable(QJsonDocument(json).toJson()));
    QCOMPARE(json.keys(), (QStringList{"detalle", "estado", "hora", "impresora", "trabajo"}));
    QCOMPARE(json.value(QStringLiteral("hora")).toString().size(), 19);
}

void TstCups::DetalleDeLasColas()
{
    const QJsonArray impresoras = Json(Esperar([this](Responder r) { m_impresion->DetalleImpresoras(std::move(r)); }))
                                      .value(QStringLiteral("impresoras"))
                                      .toArray();
    QStringList nombres;
    QHash<QString, QJsonObject> porNombre;
    for (const QJsonValue& v : impresoras) {
        nombres << v.toObject().value(QStringLiteral("nombre")).toString();
        porNombre.insert(nombres.last(), v.toObject());
    }
    // The order of GET /impresoras, without the keyword.
    QCOMPARE(nombres, m_lista->Nombres());
    const QJsonObject caja = porNombre.value(QStringLiteral("Caja"));
    QCOMPARE(caja.value(QStringLiteral("predeterminada")), QJsonValue(true));
    QCOMPARE(caja.value(QStringLiteral("estado")).toString(), QStringLiteral("lista"));
    const QJsonObject laser = porNombre.value(QStringLiteral("Laser"));
    QCOMPARE(laser.value(QStringLiteral("predeterminada")), QJsonValue(false));
    QCOMPARE(laser.value(QStringLiteral("estado")).toString(), QStringLiteral("detenida"));
    QCOMPARE(laser.value(QStringLiteral("motivo")).toString(), QStringLiteral("paused"));
    const QStringList papeles = laser.value(QStringLiteral("papeles")).toVariant().toStringList();
    QVERIFY2(papeles.contains(QLatin1String("A4")) && papeles.contains(QLatin1String("Letter")),
             qPrintable(papeles.join(u',')));
    QCOMPARE(laser.value(QStringLiteral("bandejas")).toVariant().toStringList().mid(0, 3),
             (QStringList{"auto", "tray-1", "tray-2"}));
    QCOMPARE(laser.value(QStringLiteral("color")), QJsonValue(false));
    QCOMPARE(laser.value(QStringLiteral("duplex")), QJsonValue(false));
    QCOMPARE(porNombre.value(QStringLiteral("Archivo")).value(QStringLiteral("color")), QJsonValue(true));
}

QTEST_MAIN(TstCups)
#include "tst_cups.moc"
