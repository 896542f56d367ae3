// Printing through the real agent: a page's requests, CUPS's own protocol and a private CUPS scheduler.
#include "support/agente_prueba.h"
#include "support/catalogo_impresoras.h"
#include "support/cuerpos.h"
#include "support/cups_privado.h"
#include "support/pdf_de_prueba.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using soporte::AgenteDePrueba;
using soporte::CuerpoImpresion;
using soporte::CupsPrivado;
using soporte::Fila;
using soporte::PdfDePrueba;
using soporte::RespuestaHttp;

namespace {

const QString kAcento = QString::fromUtf8("Impresión");

// The job id of a print's success answer, which must be a positive number.
QString TrabajoDe(const QByteArray& respuesta)
{
    const QString id = QJsonDocument::fromJson(respuesta).object().value(QStringLiteral("trabajo")).toString();
    return id.toInt() > 0 ? id : QStringLiteral("<sin trabajo>");
}

} // namespace

class E2eImpresion final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void CatalogoPorHttp();
    void PaginaImprimeEnLaImpresoraPedida_data();
    void PaginaImprimeEnLaImpresoraPedida();
    void DosImpresionesSeguidasSonDosTrabajos();
    void ImpresoraDesconocida();

private:
    CupsPrivado m_cups;
    AgenteDePrueba m_agente;

    // What a browser's fetch() sends: a preflight, then the POST with its usual headers.
    RespuestaHttp PostComoPagina(const QByteArray& cuerpo);
};

void E2eImpresion::initTestCase()
{
    const QString motivo = m_cups.Iniciar();
    if (!motivo.isEmpty()) {
        QSKIP(qPrintable(motivo));
    }
    // The first step that fails stops the rest, its reason in UltimoError().
    QVERIFY2(m_cups.AgregarCola(QStringLiteral("Caja")) && m_cups.AgregarCola(kAcento) &&
                 m_cups.AgregarCola(QStringLiteral("Etiquetas")) &&
                 m_cups.FijarPredeterminada(QStringLiteral("Etiquetas")),
             qPrintable(m_cups.UltimoError()));

    // The agent inherits CUPS_SERVER, so it sees only the private scheduler.
    m_agente.Configurar(QStringLiteral("Comportamiento=PORPETICION\r\n"));
    QVERIFY(m_agente.Iniciar());
}

void E2eImpresion::cleanupTestCase()
{
    m_agente.Detener();
    m_cups.Detener();
}

RespuestaHttp E2eImpresion::PostComoPagina(const QByteArray& cuerpo)
{
    const QByteArray comunes = "Host: localhost:" + QByteArray::number(m_agente.Puerto()) +
                               "\r\nConnection: keep-alive\r\n"
                               "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                               "Chrome/120.0.0.0 Safari/537.36\r\n"
                               "Accept: */*\r\nOrigin: https://app.tornavo.com\r\n"
                               "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: cors\r\nSec-Fetch-Dest: empty\r\n"
                               "Referer: https://app.tornavo.com/\r\nAccept-Encoding: gzip, deflate, br\r\n"
                               "Accept-Language: es-AR,es;q=0.9\r\n";
    const RespuestaHttp previa = m_agente.Solicitar(
        "OPTIONS /print-base64 HTTP/1.1\r\n" + comunes +
        "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: content-type\r\n\r\n");
    if (previa.estado != 204) {
        return previa;
    }
    return m_agente.Solicitar("POST /print-base64 HTTP/1.1\r\n" + comunes +
                                  "Content-Type: application/json\r\nContent-Length: " +
                                  QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo,
                              60000);
}

void E2eImpresion::CatalogoPorHttp()
{
    // The details come from CUPS while the request waits: one element per queue, the default one marked.
    QStringList predeterminadas;
    const QJsonArray detalle = QJsonDocument::fromJson(m_agente.Get(QStringLiteral("/impresoras/detalle")).cuerpo)
                                   .object()
                                   .value(QStringLiteral("impresoras"))
                                   .toArray();
    for (const QJsonValue& v : detalle) {
        if (v.toObject().value(QStringLiteral("predeterminada")).toBool()) {
            predeterminadas << v.toObject().value(QStringLiteral("nombre")).toString();
        }
    }
    QCOMPARE(detalle.size(), 3);
    QCOMPARE(predeterminadas, QStringList{"Etiquetas"});
    soporte::CompararCatalogo(m_agente, {QStringLiteral("Caja"), QStringLiteral("Etiquetas"), kAcento});
}

void E2eImpresion::PaginaImprimeEnLaImpresoraPedida_data()
{
    QTest::addColumn<QString>("pedida");
    QTest::addColumn<QString>("cola");
    QTest::addColumn<int>("relleno"); // bytes beyond the page
    Fila("nombrada", "Caja", "Caja", 2048);
    Fila("predeterminada", "PREDETERMINADA", "Etiquetas", 2048);
    Fila("con acento, otro caso", "impresión ", kAcento, 2048);
    Fila("20 MB", "Caja", "Caja", 20 * 1024 * 1024);
}

void E2eImpresion::PaginaImprimeEnLaImpresoraPedida()
{
    QFETCH(QString, pedida);
    QFETCH(QString, cola);
    QFETCH(int, relleno);
    const int antes = m_cups.UltimoTrabajo();
    const QByteArray pdf = PdfDePrueba("pagina " + cola.toUtf8().toHex(), relleno, static_cast<quint32>(antes));
    const RespuestaHttp respuesta = PostComoPagina(CuerpoImpresion(pdf, pedida));
    QCOMPARE(respuesta.estado, 200);
    QCOMPARE(QString::fromUtf8(respuesta.cuerpo),
             QStringLiteral("{\"success\":true,\"impresora\":\"%1\",\"trabajo\":\"%2\"}")
                 .arg(pedida, TrabajoDe(respuesta.cuerpo)));

    const auto nuevos = m_cups.TrabajosTerminadosDesde(antes, 1);
    QCOMPARE(nuevos.size(), 1);
    QCOMPARE(nuevos[0].impresora, cola);
    QVERIFY(nuevos[0].ajustarPagina);
    QVERIFY(m_cups.Documento(nuevos[0].id) == pdf);
    // The finished job's state, read from CUPS by the agent while the request waits.
    const RespuestaHttp estado = m_agente.Get(QStringLiteral("/trabajos/") + TrabajoDe(respuesta.cuerpo));
    QCOMPARE(estado.estado, 200);
    QCOMPARE(QJsonDocument::fromJson(estado.cuerpo).object().value(QStringLiteral("estado")).toString(),
             QStringLiteral("terminado"));

    // Each print has a file of its own in the program folder.
    const QString rutaPdf = m_agente.UltimoPdfGuardado();
    QVERIFY2(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(m_agente.Carpeta()) +
                                QStringLiteral("/archivo_recibido_\\d+\\.pdf$"))
                 .match(rutaPdf)
                 .hasMatch(),
             qPrintable(rutaPdf));
    QVERIFY(soporte::LeerArchivo(rutaPdf) == pdf);
    QVERIFY(m_agente.EsperarLineaLog(QStringLiteral("?? Impreso en: ") + pedida));
    const QStringList lineas = m_agente.LineasLog();
    const qsizetype impreso = lineas.lastIndexOf(QRegularExpression(".*\\] \\?\\? Impreso en: .*"));
    QVERIFY(impreso >= 2);
    QVERIFY(lineas[impreso - 2].endsWith("] PDF guardado: " + rutaPdf));
    QVERIFY(lineas[impreso - 1].endsWith(
        QStringLiteral("] ? Impresión enviada a CUPS: cola %1, trabajo %2, fit-to-page").arg(cola).arg(nuevos[0].id)));
}

void E2eImpresion::DosImpresionesSeguidasSonDosTrabajos()
{
    const int antes = m_cups.UltimoTrabajo();
    const QByteArray primero = PdfDePrueba("primero", 300000, 101);
    const QByteArray segundo = PdfDePrueba("segundo", 10, 102);
    const QByteArray r1 =
        m_agente.Post(QStringLiteral("/print-base64"), CuerpoImpresion(primero, QStringLiteral("Caja"))).cuerpo;
    QCOMPARE(r1, "{\"success\":true,\"impresora\":\"Caja\",\"trabajo\":\"" + TrabajoDe(r1).toUtf8() + "\"}");
    const QByteArray r2 =
        m_agente.Post(QStringLiteral("/print-base64"), CuerpoImpresion(segundo, QStringLiteral("Caja"))).cuerpo;
    QCOMPARE(r2, "{\"success\":true,\"impresora\":\"Caja\",\"trabajo\":\"" +
                     QByteArray::number(TrabajoDe(r1).toInt() + 1) + "\"}");
    const auto nuevos = m_cups.TrabajosTerminadosDesde(antes, 2);
    QCOMPARE(nuevos.size(), 2);
    QVERIFY(nuevos[0].id != nuevos[1].id);
    // Each job goes over a connection of its own, so the short second document may be numbered first.
    const QByteArray uno = m_cups.Documento(nuevos[0].id);
    const QByteArray otro = m_cups.Documento(nuevos[1].id);
    QVERIFY((uno == primero && otro == segundo) || (uno == segundo && otro == primero));
}

void E2eImpresion::ImpresoraDesconocida()
{
    const int antes = m_cups.UltimoTrabajo();
    const RespuestaHttp respuesta =
        m_agente.Post(QStringLiteral("/print-base64"), CuerpoImpresion(PdfDePrueba("nada"), QStringLiteral("Caja2")));
    QCOMPARE(respuesta.estado, 200);
    const QJsonObject json = QJsonDocument::fromJson(respuesta.cuerpo).object();
    QCOMPARE(json.value(QStringLiteral("success")), QJsonValue(false));
    QCOMPARE(json.value(QStringLiteral("error")).toString(), QStringLiteral("Impresora no encontrada: Caja2"));
    QCOMPARE(json.value(QStringLiteral("impresorasDisponibles")).toObject().value(QStringLiteral("impresoras")),
             QJsonValue(QJsonArray::fromStringList(QJsonDocument::fromJson(m_agente.Get("/impresoras").cuerpo)
                                                       .object()
                                                       .value(QStringLiteral("impresoras"))
                                                       .toVariant()
                                                       .toStringList())));
    QVERIFY(m_agente.EsperarLineaLog(QStringLiteral("] ? Impresora no encontrada: Caja2")));
    QCOMPARE(m_cups.UltimoTrabajo(), antes);
}

QTEST_GUILESS_MAIN(E2eImpresion)
#include "e2e_impresion.moc"
