// The CSV hand-off to Qendra.
#include "support/bitacora.h"
#include "support/cuerpos.h"
#include "support/lanzador_falso.h"
#include "support/programa_sustituto.h"
#include "support/soporte.h"

#include "base/lanzador.h"
#include "handoff/entrega_csv.h"
#include "settings/configuracion.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using soporte::Bitacora;
using soporte::CrearProgramaSustituto;
using soporte::CuerpoCsv;
using soporte::LanzadorFalso;
using soporte::LlamadaRegistrada;

namespace {

const QString kExito = QStringLiteral("{\"success\":true,\"mensaje\":\"CSV recibido y ejecutado\"}");
const QString kSinQendra =
    QStringLiteral("{\"success\":false,\"error\":\"CSV recibido pero no se pudo ejecutar Qendra, asegurate de tener "
                   "Qendra instalado en la carpeta por defecto\"}");

QString Recibir(EntregaCSV& entrega, const QByteArray& cuerpo)
{
    return entrega.RecibirCSV(cuerpo);
}

// Bodies arrive as UTF-8 bytes.
QString Recibir(EntregaCSV& entrega, const QString& cuerpo)
{
    return Recibir(entrega, cuerpo.toUtf8());
}

} // namespace

class TstEntregaCSV final : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void NombrePorDefecto_data();
    void NombrePorDefecto();
    void ReemplazaPorUnArchivoMasCorto();
    void CreaLaCarpetaDeDatos();
    void QendraAusente();
    void QendraIniciado();
    void NombresRechazados_data();
    void NombresRechazados();
    void NombresAceptados_data();
    void NombresAceptados();
    void JsonInvalido_data();
    void JsonInvalido();
    void Base64Invalido();
    void CarpetaQueNoSePuedeCrear();
    void DiscoLleno_data();
    void DiscoLleno();
    void EnlaceEnLaCarpetaDeDatos_data();
    void EnlaceEnLaCarpetaDeDatos();
    void CarpetasPorDefecto();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    Configuracion m_cfg;
    QString m_datos;
    QString m_qendra;
};

void TstEntregaCSV::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    m_datos = m_tmp->filePath(QStringLiteral("tornavo"));
    m_qendra = m_tmp->filePath(QStringLiteral("Qendra/Qendra"));
    m_cfg = Configuracion();
    m_cfg.CarpetaCSV = m_datos;
    m_cfg.ProgramaQendra = m_qendra;
}

void TstEntregaCSV::NombrePorDefecto_data()
{
    QTest::addColumn<QString>("cuerpo");
    QTest::newRow("nombre vacío") << QString::fromUtf8(CuerpoCsv("a;b\r\n1;2\r\n", QString()));
    QTest::newRow("sin nombre") << QStringLiteral("{\"base64\":\"YTtiDQoxOzINCg==\"}");
    QTest::newRow("nombre null") << QStringLiteral("{\"base64\":\"YTtiDQoxOzINCg==\",\"nombreArchivo\":null}");
}

void TstEntregaCSV::NombrePorDefecto()
{
    QFETCH(QString, cuerpo);
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, cuerpo), kExito);
    QCOMPARE(soporte::LeerArchivo(m_datos + QStringLiteral("/archivo.csv")), QByteArray("a;b\r\n1;2\r\n"));
    QCOMPARE(bitacora.Mensajes().first(), "?? CSV guardado en: " + QDir::toNativeSeparators(m_datos + "/archivo.csv"));
}

void TstEntregaCSV::ReemplazaPorUnArchivoMasCorto()
{
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, CuerpoCsv(QByteArray(10000, 'x'), QStringLiteral("ventas.csv"))), kExito);
    QCOMPARE(Recibir(entrega, CuerpoCsv("corto", QStringLiteral("ventas.csv"))), kExito);
    QCOMPARE(soporte::LeerArchivo(m_datos + QStringLiteral("/ventas.csv")), QByteArray("corto"));
    QCOMPARE(QDir(m_datos).entryList(QDir::Files | QDir::Hidden), QStringList{"ventas.csv"});
}

void TstEntregaCSV::CreaLaCarpetaDeDatos()
{
    m_cfg.CarpetaCSV = m_tmp->filePath(QStringLiteral("uno/dos/"));
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QVERIFY(!QFileInfo::exists(m_cfg.CarpetaCSV));
    QCOMPARE(Recibir(entrega, CuerpoCsv("x", QStringLiteral("a.csv"))), kExito);
    QCOMPARE(soporte::LeerArchivo(m_tmp->filePath(QStringLiteral("uno/dos/a.csv"))), QByteArray("x"));
}

void TstEntregaCSV::QendraAusente()
{
    Bitacora bitacora;
    LanzadorQt lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, CuerpoCsv("a;b", QStringLiteral("pesos.csv"))), kSinQendra);
    const QString ruta = m_datos + QStringLiteral("/pesos.csv");
    QCOMPARE(bitacora.Mensajes(),
             (QStringList{"?? CSV guardado en: " + QDir::toNativeSeparators(ruta),
                          "? Error al ejecutar " + QDir::toNativeSeparators(m_qendra) + " | Código: 2",
                          "? Error al ejecutar Qendra.exe"}));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("a;b"));
}

void TstEntregaCSV::QendraIniciado()
{
    QVERIFY(QDir().mkpath(QFileInfo(m_qendra).path()));
    QVERIFY(CrearProgramaSustituto(m_qendra, m_datos));
    Bitacora bitacora;
    LanzadorQt lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    const QByteArray csv("codigo;peso\r\n1;2.5\r\n");
    QCOMPARE(Recibir(entrega, CuerpoCsv(csv, QStringLiteral("pesos.csv"))), kExito);
    QCOMPARE(bitacora.Mensajes(),
             (QStringList{"?? CSV guardado en: " + QDir::toNativeSeparators(m_datos + "/pesos.csv"),
                          "? qendra.exe ejecutado correctamente."}));
    // Qendra found the whole file in the data folder when it started, with "-i" and its own folder.
    QTRY_VERIFY_WITH_TIMEOUT(!LlamadaRegistrada(m_qendra).isEmpty(), 10000);
    QCOMPARE(LlamadaRegistrada(m_qendra), (QStringList{"arg:-i", "cwd:" + QFileInfo(m_qendra).path(),
                                                       QStringLiteral("archivo:pesos.csv:%1").arg(csv.size())}));
}

void TstEntregaCSV::NombresRechazados_data()
{
    QTest::addColumn<QString>("nombre");
    QTest::newRow("sube con /") << "../fuera.csv";
    QTest::newRow("sube con \\") << "..\\fuera.csv";
    QTest::newRow("subcarpeta") << "sub/a.csv";
    QTest::newRow("ruta absoluta") << "/etc/a.csv";
    QTest::newRow("inicio de Windows") << "..\\..\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\x.bat";
    QTest::newRow("unidad") << "C:a.csv";
    QTest::newRow("flujo alternativo") << "a.csv:oculto";
    QTest::newRow("punto") << ".";
    QTest::newRow("dos puntos") << "..";
    QTest::newRow("tabulador") << "a\tb.csv";
    QTest::newRow("salto de línea") << "a\nb.csv";
    QTest::newRow("DEL") << "a\x7f.csv";
    QTest::newRow("con") << "con";
    QTest::newRow("CON.csv") << "CON.csv";
    QTest::newRow("Nul.txt.csv") << "Nul.txt.csv";
    QTest::newRow("prn") << "prn";
    QTest::newRow("aux con espacio") << "aux .csv";
    QTest::newRow("com1") << "com1.csv";
    QTest::newRow("COM9") << "COM9";
    QTest::newRow("lpt1") << "lpt1.csv";
    QTest::newRow("LPT9") << "LPT9.txt";
    QTest::newRow("COM superíndice") << QString::fromUtf8("COM\u00b9.csv");
    QTest::newRow("lpt superíndice") << QString::fromUtf8("lpt\u00b3");
    QTest::newRow("CONIN$") << "CONIN$.csv";
    QTest::newRow("conout$") << "conout$";
    QTest::newRow("punto final") << "x.csv.";
    QTest::newRow("espacio final") << "x.csv ";
    QTest::newRow("barra vertical") << "a|b.csv";
    QTest::newRow("comillas") << "a\"b.csv";
    QTest::newRow("menor y mayor") << "<a>.csv";
    QTest::newRow("comodines") << "a*?.csv";
    QTest::newRow("surrogado suelto") << QString(QStringLiteral("a") + QChar(0xD800) + QStringLiteral(".csv"));
}

void TstEntregaCSV::NombresRechazados()
{
    QFETCH(QString, nombre);
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    const QString cuerpo = QStringLiteral("{\"base64\":\"QUJD\",\"nombreArchivo\":\"%1\"}")
                               .arg(QString(nombre)
                                        .replace(u'\\', QStringLiteral("\\\\"))
                                        .replace(u'"', QStringLiteral("\\\""))
                                        .replace(u'\t', QStringLiteral("\\t"))
                                        .replace(u'\n', QStringLiteral("\\n"))
                                        .replace(QChar(0x7f), QStringLiteral("\\u007f"))
                                        .replace(QChar(0xD800), QStringLiteral("\\ud800")));
    QCOMPARE(Recibir(entrega, cuerpo), QStringLiteral("{\"success\":false,\"error\":\"Nombre de archivo inválido\"}"));
    QCOMPARE(bitacora.Mensajes().size(), 1);
    QVERIFY(bitacora.Mensajes().first().startsWith(QStringLiteral("? Nombre de archivo inválido en /csv-base64: ")));
    // One line per message, whatever the name holds.
    QVERIFY(!bitacora.Mensajes().first().contains(u'\n'));
    QVERIFY(lanzador.llamadas.isEmpty());
    QVERIFY(!QFileInfo::exists(m_datos));
    QVERIFY(!QFileInfo::exists(m_tmp->filePath(QStringLiteral("fuera.csv"))));
}

void TstEntregaCSV::NombresAceptados_data()
{
    QTest::addColumn<QString>("nombre");
    QTest::newRow("con espacios") << "ventas 2024.csv";
    QTest::newRow("acentos") << QString::fromUtf8("ñandú.csv");
    QTest::newRow("parecido a CON") << "console.csv";
    QTest::newRow("com10") << "com10.csv";
    QTest::newRow("lpt0") << "lpt0.csv";
    QTest::newRow("com con otro superíndice") << QString::fromUtf8("com\u2074.csv");
    QTest::newRow("parecido a CONIN$") << "conin.csv";
    QTest::newRow("puntos dentro") << "a..b.csv";
    QTest::newRow("empieza con punto") << ".oculto.csv";
}

void TstEntregaCSV::NombresAceptados()
{
    QFETCH(QString, nombre);
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, CuerpoCsv("x", nombre)), kExito);
    QCOMPARE(QDir(m_datos).entryList(QDir::Files | QDir::Hidden), QStringList{nombre});
}

void TstEntregaCSV::JsonInvalido_data()
{
    soporte::FilasJsonInvalido(QStringLiteral("nombreArchivo"));
}

void TstEntregaCSV::JsonInvalido()
{
    QFETCH(QString, cuerpo);
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, cuerpo), QStringLiteral("{\"success\":false,\"error\":\"JSON inválido\"}"));
    QCOMPARE(bitacora.Mensajes(), QStringList{"? JSON inválido recibido en /csv-base64"});
    QVERIFY(lanzador.llamadas.isEmpty());
    QVERIFY(!QFileInfo::exists(m_datos));
}

void TstEntregaCSV::Base64Invalido()
{
    QVERIFY(QDir().mkpath(m_datos));
    QFile anterior(m_datos + QStringLiteral("/a.csv"));
    QVERIFY(anterior.open(QIODevice::WriteOnly));
    anterior.write("anterior");
    anterior.close();
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, QStringLiteral("{\"base64\":\"no es base64!\",\"nombreArchivo\":\"a.csv\"}")),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar el CSV\"}"));
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Error al guardar CSV"});
    QCOMPARE(soporte::LeerArchivo(m_datos + QStringLiteral("/a.csv")), QByteArray("anterior"));
    QVERIFY(lanzador.llamadas.isEmpty());
}

void TstEntregaCSV::CarpetaQueNoSePuedeCrear()
{
    // A file stands where the folder should go.
    QFile estorbo(m_datos);
    QVERIFY(estorbo.open(QIODevice::WriteOnly));
    estorbo.close();
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, CuerpoCsv("x", QStringLiteral("a.csv"))),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar el CSV\"}"));
    QCOMPARE(bitacora.Mensajes(),
             (QStringList{"? No se pudo crear la carpeta " + QDir::toNativeSeparators(m_datos + "/"),
                          "? Error al guardar CSV"}));
    QVERIFY(lanzador.llamadas.isEmpty());
}

void TstEntregaCSV::DiscoLleno_data()
{
    QTest::addColumn<qint64>("libres");
    QTest::addColumn<int>("largo");
    // The file device buffers 16 KiB: below that the failure shows only when the buffer is flushed.
    QTest::newRow("nothing free, small") << qint64(0) << 100;
    QTest::newRow("nothing free, 12 KB") << qint64(0) << 12000;
    QTest::newRow("8 KiB free, 12 KB") << qint64(8192) << 12000;
    QTest::newRow("8 KiB free, 15 KB") << qint64(8192) << 15000;
    QTest::newRow("8 KiB free, 40 KB") << qint64(8192) << 40000;
}

void TstEntregaCSV::DiscoLleno()
{
    QFETCH(qint64, libres);
    QFETCH(int, largo);
    soporte::DiscoPequeno disco;
    if (!disco.Montado()) {
        QSKIP("mounting a small file system takes root");
    }
    m_cfg.CarpetaCSV = disco.Ruta();
    const QString ruta = disco.Ruta() + QStringLiteral("/ventas.csv");
    QVERIFY(soporte::EscribirArchivo(ruta, "anterior"));
    QVERIFY(disco.Llenar(libres));
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, CuerpoCsv(QByteArray(largo, 'x'), QStringLiteral("ventas.csv"))),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar el CSV\"}"));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("anterior"));
    QVERIFY(lanzador.llamadas.isEmpty());
    QCOMPARE(bitacora.Mensajes().size(), 2);
    QVERIFY(bitacora.Mensajes()[0].startsWith("? No se pudo escribir " + ruta + ": "));
    QCOMPARE(bitacora.Mensajes()[1], QStringLiteral("? Error al guardar CSV"));
    // No temporary file is left behind to fill the disk further.
    QCOMPARE(QDir(disco.Ruta()).entryList(QDir::Files), QStringList{"ventas.csv"});
}

void TstEntregaCSV::EnlaceEnLaCarpetaDeDatos_data()
{
    QTest::addColumn<bool>("destinoExiste");
    QTest::newRow("to a file outside") << true;
    QTest::newRow("to nothing yet") << false;
}

void TstEntregaCSV::EnlaceEnLaCarpetaDeDatos()
{
    QFETCH(bool, destinoExiste);
    const QString fuera = m_tmp->filePath(QStringLiteral("fuera.txt"));
    if (destinoExiste) {
        QVERIFY(soporte::EscribirArchivo(fuera, "intacto"));
    }
    QVERIFY(QDir().mkpath(m_datos));
    const QString enlace = m_datos + QStringLiteral("/link.csv");
    if (!QFile::link(fuera, enlace)) {
        QSKIP("this file system takes no links");
    }
    Bitacora bitacora;
    LanzadorFalso lanzador;
    EntregaCSV entrega(m_cfg, lanzador);
    QCOMPARE(Recibir(entrega, CuerpoCsv("a;b", QStringLiteral("link.csv"))),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar el CSV\"}"));
    QCOMPARE(bitacora.Mensajes(),
             (QStringList{"? No se escribe a través de un enlace: " + enlace, "? Error al guardar CSV"}));
    QCOMPARE(QFileInfo::exists(fuera), destinoExiste);
    if (destinoExiste) {
        QCOMPARE(soporte::LeerArchivo(fuera), QByteArray("intacto"));
    }
    QVERIFY(QFileInfo(enlace).isSymLink());
    QVERIFY(lanzador.llamadas.isEmpty());
}

void TstEntregaCSV::CarpetasPorDefecto()
{
    const QByteArray casaAnterior = qgetenv("HOME");
    qputenv("HOME", m_tmp->path().toUtf8());
    Configuracion cfg;
    LanzadorFalso lanzador;
    EntregaCSV entrega(cfg, lanzador);
    const QString respuesta = Recibir(entrega, CuerpoCsv("x", QString()));
    qputenv("HOME", casaAnterior);
    QCOMPARE(respuesta, kExito);
    QCOMPARE(soporte::LeerArchivo(m_tmp->filePath(QStringLiteral("tornavo/archivo.csv"))), QByteArray("x"));
    QCOMPARE(lanzador.llamadas.size(), 1);
    QCOMPARE(lanzador.llamadas[0].programa, m_tmp->filePath(QStringLiteral("Qendra/Qendra")));
    QCOMPARE(lanzador.llamadas[0].argumentos, QStringList{"-i"});
    QCOMPARE(lanzador.llamadas[0].carpeta, m_tmp->filePath(QStringLiteral("Qendra/")));
    QVERIFY(lanzador.llamadas[0].desligado);
}

QTEST_GUILESS_MAIN(TstEntregaCSV)
#include "tst_entrega_csv.moc"
