// The CSV hand-off through the real agent, with a stand-in Qendra that records how it was started.
#include "support/agente_prueba.h"
#include "support/cuerpos.h"
#include "support/programa_sustituto.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QTest>

using soporte::AgenteDePrueba;
using soporte::CrearProgramaSustituto;
using soporte::CuerpoCsv;
using soporte::LlamadaRegistrada;
using soporte::RespuestaHttp;

namespace {

const QByteArray kExito = "{\"success\":true,\"mensaje\":\"CSV recibido y ejecutado\"}";
const QByteArray kSinQendra = "{\"success\":false,\"error\":\"CSV recibido pero no se pudo ejecutar Qendra, asegurate "
                              "de tener Qendra instalado en la carpeta por defecto\"}";

} // namespace

class E2eCsv final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void CsvLlegaYQendraArranca();
    void NombreQueSaleDeLaCarpeta();
    void CarpetasPorDefectoSinQendra();

private:
    QTemporaryDir m_tmp;
    QString m_datos;
    QString m_qendra;
    AgenteDePrueba m_agente;
};

void E2eCsv::initTestCase()
{
    m_datos = m_tmp.filePath(QStringLiteral("datos"));
    m_qendra = m_tmp.filePath(QStringLiteral("Qendra/Qendra"));
    QVERIFY(QDir().mkpath(QFileInfo(m_qendra).path()));
    QVERIFY(CrearProgramaSustituto(m_qendra, m_datos));
    m_agente.Configurar(
        QStringLiteral("Comportamiento=PORPETICION\r\nCarpetaCSV=%1\r\nProgramaQendra=%2\r\n").arg(m_datos, m_qendra));
    QVERIFY(m_agente.Iniciar());
}

void E2eCsv::cleanupTestCase()
{
    m_agente.Detener();
}

void E2eCsv::CsvLlegaYQendraArranca()
{
    const QByteArray csv = "codigo;descripcion;precio\r\n1;Queso \xc3\xa1rabe;10.5\r\n";
    QVERIFY(!QFileInfo::exists(m_datos));
    const RespuestaHttp respuesta = m_agente.Post(QStringLiteral("/csv-base64"), CuerpoCsv(csv, "articulos.csv"));
    QCOMPARE(respuesta.estado, 200);
    QCOMPARE(respuesta.cuerpo, kExito);
    QVERIFY(soporte::LeerArchivo(m_datos + QStringLiteral("/articulos.csv")) == csv);

    // Qendra started with "-i" in its own folder and found the whole file there.
    QTRY_VERIFY_WITH_TIMEOUT(!LlamadaRegistrada(m_qendra).isEmpty(), 15000);
    QCOMPARE(LlamadaRegistrada(m_qendra), (QStringList{"arg:-i", "cwd:" + QFileInfo(m_qendra).path(),
                                                       QStringLiteral("archivo:articulos.csv:%1").arg(csv.size())}));
    QVERIFY(m_agente.EsperarLineaLog(QStringLiteral("] ? qendra.exe ejecutado correctamente.")));
    const QStringList lineas = m_agente.LineasLog();
    const qsizetype ejecutado = lineas.lastIndexOf(QRegularExpression(".*\\] \\? qendra\\.exe ejecutado.*"));
    QVERIFY(lineas.value(ejecutado - 1).endsWith("] ?? CSV guardado en: " + m_datos + "/articulos.csv"));
}

void E2eCsv::NombreQueSaleDeLaCarpeta()
{
    QFile::remove(m_qendra + QStringLiteral(".llamada"));
    const RespuestaHttp respuesta =
        m_agente.Post(QStringLiteral("/csv-base64"), CuerpoCsv("x", QStringLiteral("../Qendra/Qendra")));
    QCOMPARE(respuesta.cuerpo, QByteArray("{\"success\":false,\"error\":\"Nombre de archivo inv\xc3\xa1lido\"}"));
    QVERIFY(
        m_agente.EsperarLineaLog(QStringLiteral("] ? Nombre de archivo inválido en /csv-base64: ../Qendra/Qendra")));
    // The stand-in is untouched and was not started.
    QVERIFY(soporte::LeerArchivo(m_qendra).startsWith("#!/bin/sh"));
    QVERIFY(LlamadaRegistrada(m_qendra).isEmpty());
}

void E2eCsv::CarpetasPorDefectoSinQendra()
{
    QTemporaryDir casa;
    AgenteDePrueba otro;
    otro.Configurar(QStringLiteral("Comportamiento=PORPETICION\r\n"));
    QVERIFY(otro.Iniciar({QStringLiteral("HOME=") + casa.path()}));
    const RespuestaHttp respuesta = otro.Post(QStringLiteral("/csv-base64"), CuerpoCsv("a;b\r\n", QString()));
    otro.Detener();
    QCOMPARE(respuesta.cuerpo, kSinQendra);
    // The file stays in the data folder even though Qendra could not start.
    QVERIFY(soporte::LeerArchivo(casa.filePath(QStringLiteral("tornavo/archivo.csv"))) == "a;b\r\n");
    const QStringList lineas = otro.LineasLog();
    const qsizetype guardado = lineas.indexOf(QRegularExpression(".*\\] \\?\\? CSV guardado en: .*"));
    QVERIFY(guardado >= 0);
    QVERIFY(lineas[guardado].endsWith(casa.filePath(QStringLiteral("tornavo/archivo.csv"))));
    QVERIFY(lineas.value(guardado + 1)
                .endsWith("] ? Error al ejecutar " + casa.filePath(QStringLiteral("Qendra/Qendra")) + " | Código: 2"));
    QVERIFY(lineas.value(guardado + 2).endsWith(QLatin1String("] ? Error al ejecutar Qendra.exe")));
}

QTEST_GUILESS_MAIN(E2eCsv)
#include "e2e_csv.moc"
