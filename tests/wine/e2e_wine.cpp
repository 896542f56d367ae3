// The deployed Windows agent under Wine, driven from Linux over its HTTP port: the endpoints, the scale through
// COM3, SumatraPDF and Qendra (stand-ins beside it), origins, a second instance, a forced stop and the log file.
//
// Wine runs the agent on the offscreen platform: there is no desktop, no window handle and no session. `taskkill`
// without /F sends WM_CLOSE to the process's top-level windows and finds none (the agent goes on serving); the
// end-of-session messages have no window to reach either. So the agent is only ever ended with `taskkill /F`, and
// what is checked about an end is what a forced one leaves behind.
#include "agente_wine.h"
#include "support/balanza_simulada.h"
#include "support/catalogo_impresoras.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <memory>

using soporte::BalanzaSimulada;
using soporte::RespuestaHttp;

namespace {

const QByteArray k403 = "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nAccess-Control-Allow-Origin: *\r\n"
                        "Content-Length: 54\r\n\r\n{\"error\":\"Acceso denegado desde origen no autorizado\"}";
const QByteArray kCsvExito = "{\"success\":true,\"mensaje\":\"CSV recibido y ejecutado\"}";
const QByteArray kNombreInvalido = "{\"success\":false,\"error\":\"Nombre de archivo inv\xc3\xa1lido\"}";

QByteArray Framed200(const QByteArray& cuerpo)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: " +
           QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo;
}

QByteArray Leer(const QString& ruta)
{
    QFile archivo(ruta);
    return archivo.open(QIODevice::ReadOnly) ? archivo.readAll() : QByteArray();
}

QByteArray CuerpoJson(const QString& clave, const QString& valor, const QByteArray& contenido)
{
    return QJsonDocument(
               QJsonObject{{QStringLiteral("base64"), QString::fromLatin1(contenido.toBase64())}, {clave, valor}})
        .toJson(QJsonDocument::Compact);
}

// The lines a stand-in of tools/sustitutos recorded on its n-th run, or nothing while it has not finished.
QStringList Registro(const QString& programa, int vez = 1)
{
    return QString::fromUtf8(Leer(programa + QStringLiteral(".%1.txt").arg(vez))).split(u'\n', Qt::SkipEmptyParts);
}

QStringList Con(const QStringList& lineas, const QString& prefijo)
{
    QStringList salida;
    for (const QString& linea : lineas) {
        if (linea.startsWith(prefijo)) {
            salida << linea.mid(prefijo.size());
        }
    }
    return salida;
}

QString Sustituto(const QString& nombre)
{
    return QDir(qEnvironmentVariable("TORNAVO_SUSTITUTOS")).filePath(nombre);
}

} // namespace

class E2eWine final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void estadoYRegistroDelDia();
    void impresorasDelSistema();
    void pesoPorCom3_data();
    void pesoPorCom3();
    void impresionConSumatra_data();
    void impresionConSumatra();
    void impresoraDesconocida();
    void csvParaQendra();
    void qendraNoInstalado();
    void nombresQueWindowsNoGuarda_data();
    void nombresQueWindowsNoGuarda();
    void origenRechazado_data();
    void origenRechazado();
    void sinConfiguracion();
    void segundaInstanciaTerminaCallada();
    void despuesDeUnCierreForzadoArrancaOtro();
    void detenerDesdeOtroProceso();
};

void E2eWine::initTestCase()
{
    const QString prefijo = AgenteWine::PrepararPrefijo();
    QVERIFY2(prefijo.isEmpty(), qPrintable(prefijo));
    const QString carpeta = qEnvironmentVariable("TORNAVO_CARPETA_WINDOWS");
    QVERIFY2(QFileInfo::exists(carpeta + QStringLiteral("/plugin-tornavo.exe")),
             qPrintable(QStringLiteral("falta la carpeta desplegada: ") + carpeta));
    QVERIFY2(QFileInfo::exists(Sustituto(QStringLiteral("SumatraPDF-3.5.2-32.exe"))), "faltan los sustitutos");
    QVERIFY2(QFileInfo::exists(soporte::CarpetaBinarios() + QStringLiteral("/balanza-simulada")),
             "falta balanza-simulada (construcción de Linux)");
}

void E2eWine::estadoYRegistroDelDia()
{
    AgenteWine agente;
    agente.Configurar(QStringLiteral("MODE=DEV\r\nComportamiento=PORPEDIDO\r\nProtocoloBalanza=Kretz\r\n"));
    QVERIFY(agente.Iniciar());
    const RespuestaHttp respuesta = agente.Get(QStringLiteral("/status"));
    QCOMPARE(respuesta.bruta, Framed200(respuesta.cuerpo));
    const QRegularExpression forma(
        QStringLiteral(R"re(^\{"status":"ok","version":"%1","servidor":"Tornavo","MODE":"DEV",)re")
            .arg(QRegularExpression::escape(qEnvironmentVariable("TORNAVO_VERSION"))) +
        QStringLiteral(R"re("hora":"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","uptime":"\d+d \d\d:\d\d:\d\d",)re") +
        QStringLiteral(R"re("puerto":"(\d+)","protocolo_balanza":"Kretz","puerto_balanza":"3"\}$)re"));
    const auto encaje = forma.match(QString::fromUtf8(respuesta.cuerpo));
    QVERIFY2(encaje.hasMatch(), respuesta.cuerpo.constData());
    QCOMPARE(encaje.captured(1).toUShort(), agente.Puerto());

    // logs\log_yyyy-MM-dd.log beside the executable, every line ended by CR LF.
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("Respuesta enviada: ") + QString::fromUtf8(respuesta.cuerpo)));
    const QByteArray bytes = agente.BytesLog();
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));
    const QStringList lineas = agente.LineasLog();
    const qsizetype enviada =
        lineas.indexOf(QRegularExpression(QStringLiteral(".*Respuesta enviada: \\{\"status\".*")));
    QVERIFY(enviada > 0);
    QVERIFY(lineas[enviada - 1].endsWith(QLatin1String("] Solicitud recibida: GET /status HTTP/1.1")));
}

void E2eWine::impresorasDelSistema()
{
    // What Wine's spooler holds (none unless a CUPS scheduler is reachable), read from the prefix's registry.
    int codigo = 0;
    const QString clave = QStringLiteral("HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers");
    const QString salida = QString::fromLocal8Bit(AgenteWine::EjecutarWine({"reg", "query", clave}, &codigo));
    QStringList esperadas;
    for (const QString& linea : salida.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts)) {
        if (linea.startsWith(QStringLiteral("HKEY_LOCAL_MACHINE\\"), Qt::CaseInsensitive) &&
            linea.size() > clave.size() + 20) {
            esperadas << linea.section(u'\\', -1);
        }
    }

    AgenteWine agente;
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY(agente.Iniciar());
    soporte::CompararCatalogo(agente, esperadas);
}

void E2eWine::pesoPorCom3_data()
{
    QTest::addColumn<QString>("protocolo");
    QTest::addColumn<int>("com");
    QTest::addColumn<QString>("ruta");
    QTest::addColumn<QByteArray>("orden"); // to the scale, just before the request
    QTest::addColumn<QString>("bytes");    // what the scale received, as a pattern
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QString>("cuerpo"); // a pattern
    QTest::addColumn<QString>("registro");
    const QString lectura = QStringLiteral(R"(^\{"peso":"12\.340","kg":12\.34,"estado":"ok","estable":%1,)"
                                           R"("protocolo":"SYSTEL1","hora":"[-0-9 :.]{23}","edadMs":\d+\}$)");
    QTest::newRow("SYSTEL1") << "SYSTEL1" << 3 << "/pesoBalanza" << QByteArray() << "^07$"
                             << "9600,n,8,1"
                             << "^12\\.340$"
                             << "?? Peso devuelto: 12.340";
    QTest::newRow("KRETZ dos bits de parada") << "KRETZ" << 3 << "/pesoBalanza" << QByteArray() << "^50$"
                                              << "9600,n,8,2"
                                              << "^12\\.340$"
                                              << "?? Peso devuelto: 12.340";
    QTest::newRow("/balanza") << "SYSTEL1" << 3 << "/balanza" << QByteArray() << "^07$"
                              << "9600,n,8,1" << lectura.arg(QStringLiteral("null")) << "?? Peso devuelto: 12.340";
    // Readings every IntervaloBalanza until the weight has held EstableMs: several requests on the line.
    QTest::newRow("/balanza/estable tras asentarse")
        << "SYSTEL1" << 3 << "/balanza/estable" << QByteArray("peso 12.34 1200") << "^07( 07){3,}$"
        << "9600,n,8,1" << lectura.arg(QStringLiteral("true")) << "";
    // A scale that says nothing, or nothing that reads as a weight: told apart from a real zero.
    QTest::newRow("/balanza callada") << "SYSTEL1" << 3 << "/balanza" << QByteArray("falla silencio") << "^07( 07)*$"
                                      << "9600,n,8,1"
                                      << R"(^\{"peso":"0\.000","kg":null,"estado":"sin respuesta",.*\}$)"
                                      << "";
    QTest::newRow("/balanza ilegible") << "SYSTEL1" << 3 << "/balanza" << QByteArray("falla basura") << "^07( 07)*$"
                                       << "9600,n,8,1"
                                       << R"(^\{"peso":"[^"]*","kg":null,"estado":"ilegible",.*\}$)"
                                       << "";
    // The configured port among those the system lists, marked. Wine lists the COM ports its prefix had when made
    // (COM1), not a link added later: the scale is moved to COM1 for this row.
    QTest::newRow("/puertos") << "SYSTEL1" << 1 << "/puertos" << QByteArray() << "^$"
                              << "9600,n,8,1"
                              << R"(^\{"puertos":\[(.*\},)?\{"nombre":"COM1","ruta":"\\\\\\\\\.\\\\COM1",)"
                                 R"([^}]*"configurado":true\}(,.*)?\]\}$)"
                              << "";
}

void E2eWine::pesoPorCom3()
{
    QFETCH(QString, protocolo);
    QFETCH(int, com);
    QFETCH(QString, ruta);
    QFETCH(QByteArray, orden);
    QFETCH(QString, bytes);
    QFETCH(QString, linea);
    QFETCH(QString, cuerpo);
    QFETCH(QString, registro);
    AgenteWine agente;
    BalanzaSimulada balanza(agente.Carpeta());
    QVERIFY(balanza.Iniciar({"--protocolo", protocolo, "--peso", "12.34"}));
    // Wine opens COMn through the prefix's dosdevices folder; the link points at the pty itself.
    QVERIFY(balanza.EnlazarTambien(AgenteWine::Prefijo() + QStringLiteral("/dosdevices/com%1").arg(com)));
    // No DispositivoBalanza: PortBalanza=3 is COM3, as on a shop's computer.
    // A generous wait for each attempt: under Wine on a loaded machine the reply may take longer than the default
    // 50 ms, and a second attempt would show as a second request byte.
    agente.Configurar(
        QStringLiteral("PortBalanza=%1\r\nProtocoloBalanza=%2\r\nPausaIntento=1000\r\nEsperaEstable=10000\r\n")
            .arg(com)
            .arg(protocolo));
    QVERIFY(agente.Iniciar());
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("? Puerto COM%1 abierto con protocolo: ").arg(com) + protocolo));
    QTRY_COMPARE_WITH_TIMEOUT(balanza.Campo(QStringLiteral("linea")), linea, 10000);
    if (!orden.isEmpty()) {
        QVERIFY(balanza.Ordenar(orden));
    }
    const RespuestaHttp respuesta = agente.Get(ruta);
    QCOMPARE(respuesta.estado, 200);
    QVERIFY2(QRegularExpression(cuerpo).match(QString::fromUtf8(respuesta.cuerpo)).hasMatch(),
             respuesta.cuerpo.constData());
    const QString recibidos = balanza.Campo(QStringLiteral("bytes"));
    QVERIFY2(QRegularExpression(bytes).match(recibidos).hasMatch(), qPrintable(recibidos));
    if (!registro.isEmpty()) {
        QVERIFY(agente.EsperarLineaLog(registro));
    }
}

void E2eWine::impresionConSumatra_data()
{
    // Only the exact keyword prints without an installed printer, and Wine has none unless a CUPS scheduler runs.
    QTest::addColumn<QString>("impresora");
    QTest::addColumn<QStringList>("opciones"); // the arguments before the PDF's path
    QTest::addColumn<QString>("registrada");   // the same, as the log writes them
    QTest::newRow("predeterminada") << "PREDETERMINADA"
                                    << QStringList{"-print-to-default", "-silent", "-print-settings", "fit"}
                                    << "-print-to-default -silent -print-settings \"fit\"";
}

void E2eWine::impresionConSumatra()
{
    QFETCH(QString, impresora);
    QFETCH(QStringList, opciones);
    QFETCH(QString, registrada);
    AgenteWine agente;
    const QString sumatra = QDir(agente.Carpeta()).filePath(QStringLiteral("SumatraPDF-3.5.2-32.exe"));
    QVERIFY(QFile::copy(Sustituto(QStringLiteral("SumatraPDF-3.5.2-32.exe")), sumatra));
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY(agente.Iniciar());

    // Bytes a text-mode copy would change: CR LF, lone LF, NUL and high bytes.
    QByteArray pdf = "%PDF-1.4\r\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<<>>\nendobj\r\n";
    for (int i = 0; i < 4096; ++i) {
        pdf += char(i % 256);
    }
    pdf += "\n%%EOF\n";
    const RespuestaHttp respuesta =
        agente.Post(QStringLiteral("/print-base64"), CuerpoJson(QStringLiteral("nombreImpresora"), impresora, pdf));
    QCOMPARE(respuesta.estado, 200);
    QCOMPARE(QString::fromUtf8(respuesta.cuerpo),
             QStringLiteral("{\"success\":true,\"impresora\":\"%1\",\"trabajo\":\"%2\"}")
                 .arg(impresora, QString::number(qMax(1, QJsonDocument::fromJson(respuesta.cuerpo)
                                                             .object()
                                                             .value(QStringLiteral("trabajo"))
                                                             .toString()
                                                             .toInt()))));

    QTRY_VERIFY_WITH_TIMEOUT(!Registro(sumatra).isEmpty(), 20000);
    const QStringList registro = Registro(sumatra);
    const QString pdfWindows = agente.CarpetaWindows() + QStringLiteral("\\archivo_recibido_1.pdf");
    const QString sumatraWindows = agente.CarpetaWindows() + QStringLiteral("\\SumatraPDF-3.5.2-32.exe");
    QCOMPARE(Con(registro, QStringLiteral("arg:")), opciones + QStringList{pdfWindows});
    // The folder's name has a space: the program and the PDF arrive quoted, the options bare (Qt puts two spaces
    // after the program; Windows programs split the line on any run of blanks).
    const QStringList linea = Con(registro, QStringLiteral("linea:"));
    QCOMPARE(linea.size(), 1);
    QCOMPARE(linea.first().simplified(), u'"' + sumatraWindows + QStringLiteral("\" ") + opciones.join(u' ') +
                                             QStringLiteral(" \"") + pdfWindows + u'"');
    QVERIFY(Leer(sumatra + QStringLiteral(".1.copia")) == pdf);
    QVERIFY(Leer(agente.Carpeta() + QStringLiteral("/archivo_recibido_1.pdf")) == pdf);

    QVERIFY(agente.EsperarLineaLog(QStringLiteral("?? Impreso en: ") + impresora));
    const QStringList lineas = agente.LineasLog();
    const qsizetype impreso = lineas.lastIndexOf(QRegularExpression(QStringLiteral(".*\\] \\?\\? Impreso en: .*")));
    QVERIFY(impreso >= 2);
    QVERIFY2(lineas[impreso - 2].endsWith(QStringLiteral("] PDF guardado: ") + pdfWindows),
             qPrintable(lineas[impreso - 2]));
    QVERIFY2(lineas[impreso - 1].endsWith(QStringLiteral("] ? Impresión enviada con comando: \"") + sumatraWindows +
                                          QStringLiteral("\" ") + registrada + QStringLiteral(" \"") + pdfWindows +
                                          u'"'),
             qPrintable(lineas[impreso - 1]));
}

void E2eWine::impresoraDesconocida()
{
    AgenteWine agente;
    const QString sumatra = QDir(agente.Carpeta()).filePath(QStringLiteral("SumatraPDF-3.5.2-32.exe"));
    QVERIFY(QFile::copy(Sustituto(QStringLiteral("SumatraPDF-3.5.2-32.exe")), sumatra));
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY(agente.Iniciar());
    const RespuestaHttp respuesta = agente.Post(
        QStringLiteral("/print-base64"), CuerpoJson(QStringLiteral("nombreImpresora"), QStringLiteral("Caja9"), "x"));
    const QJsonObject json = QJsonDocument::fromJson(respuesta.cuerpo).object();
    QCOMPARE(json.value(QStringLiteral("error")).toString(), QStringLiteral("Impresora no encontrada: Caja9"));
    QCOMPARE(json.value(QStringLiteral("impresorasDisponibles")).toObject(),
             QJsonDocument::fromJson(agente.Get(QStringLiteral("/impresoras")).cuerpo).object());
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] ? Impresora no encontrada: Caja9")));
    QVERIFY(!QFileInfo::exists(sumatra + QStringLiteral(".1.txt")));
}

void E2eWine::csvParaQendra()
{
    AgenteWine agente;
    const QString qendra = agente.Carpeta() + QStringLiteral("/Qendra/Qendra.exe");
    QVERIFY(QDir().mkpath(QFileInfo(qendra).path()));
    QVERIFY(QFile::copy(Sustituto(QStringLiteral("Qendra.exe")), qendra));
    const QString datosWindows = agente.CarpetaWindows() + QStringLiteral("\\datos");
    const QString qendraWindows = agente.CarpetaWindows() + QStringLiteral("\\Qendra\\Qendra.exe");
    agente.FijarEntorno(QStringLiteral("TORNAVO_SUSTITUTO_VER"), datosWindows);
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\nCarpetaCSV=%1\r\nProgramaQendra=%2\r\n")
                          .arg(datosWindows, qendraWindows));
    QVERIFY(agente.Iniciar());

    const QByteArray csv = "codigo;descripcion;precio\r\n1;Queso \xc3\xa1rabe;10.5\r\n2;sin CR\n";
    const RespuestaHttp respuesta =
        agente.Post(QStringLiteral("/csv-base64"),
                    CuerpoJson(QStringLiteral("nombreArchivo"), QStringLiteral("artículos.csv"), csv));
    QCOMPARE(respuesta.cuerpo, kCsvExito);
    QVERIFY(Leer(agente.Carpeta() + QStringLiteral("/datos/artículos.csv")) == csv);

    // Qendra started with "-i" in its own folder, and the whole file was there when it started.
    QTRY_VERIFY_WITH_TIMEOUT(!Registro(qendra).isEmpty(), 20000);
    const QStringList registro = Registro(qendra);
    QCOMPARE(Con(registro, QStringLiteral("arg:")), QStringList{"-i"});
    QCOMPARE(Con(registro, QStringLiteral("cwd:")), QStringList{agente.CarpetaWindows() + QStringLiteral("\\Qendra")});
    QCOMPARE(Con(registro, QStringLiteral("archivo:")),
             QStringList{QStringLiteral("artículos.csv:%1").arg(csv.size())});
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] ? qendra.exe ejecutado correctamente.")));
    QVERIFY(agente.LineasLog()
                .filter(QStringLiteral("] ?? CSV guardado en: ") + datosWindows + QStringLiteral("\\artículos.csv"))
                .size() == 1);
}

void E2eWine::qendraNoInstalado()
{
    // Neither the program nor its folder: the file stays, and the log names the missing program.
    AgenteWine agente;
    const QString qendraWindows = agente.CarpetaWindows() + QStringLiteral("\\Qendra\\Qendra.exe");
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\nCarpetaCSV=%1\\datos\r\nProgramaQendra=%2\r\n")
                          .arg(agente.CarpetaWindows(), qendraWindows));
    QVERIFY(agente.Iniciar());
    const RespuestaHttp respuesta = agente.Post(
        QStringLiteral("/csv-base64"), CuerpoJson(QStringLiteral("nombreArchivo"), QStringLiteral("a.csv"), "a;b\r\n"));
    QCOMPARE(respuesta.cuerpo,
             QByteArray("{\"success\":false,\"error\":\"CSV recibido pero no se pudo ejecutar Qendra, "
                        "asegurate de tener Qendra instalado en la carpeta por defecto\"}"));
    QVERIFY(Leer(agente.Carpeta() + QStringLiteral("/datos/a.csv")) == "a;b\r\n");
    // ERROR_FILE_NOT_FOUND, as Linux's ENOENT: the program is what is missing.
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] ? Error al ejecutar ") + qendraWindows +
                                   QStringLiteral(" | Código: 2")));
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] ? Error al ejecutar Qendra.exe")));
}

void E2eWine::nombresQueWindowsNoGuarda_data()
{
    // Windows refuses these characters in a file name, and silently drops dots and spaces at its end (the file
    // would land under another name, perhaps over another file).
    QTest::addColumn<QString>("nombre");
    QTest::newRow("barra vertical") << "a|b.csv";
    QTest::newRow("punto final") << "x.csv.";
    QTest::newRow("espacio final") << "x.csv ";
    QTest::newRow("interrogación") << "a?b.csv";
    QTest::newRow("asterisco") << "a*b.csv";
    QTest::newRow("menor que") << "a<b.csv";
    QTest::newRow("mayor que") << "a>b.csv";
    QTest::newRow("comillas") << "a\"b.csv";
}

void E2eWine::nombresQueWindowsNoGuarda()
{
    QFETCH(QString, nombre);
    AgenteWine agente;
    const QString qendra = agente.Carpeta() + QStringLiteral("/Qendra/Qendra.exe");
    QVERIFY(QDir().mkpath(QFileInfo(qendra).path()));
    QVERIFY(QFile::copy(Sustituto(QStringLiteral("Qendra.exe")), qendra));
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\nCarpetaCSV=%1\\datos\r\nProgramaQendra=%2\r\n")
                          .arg(agente.CarpetaWindows(), AgenteWine::RutaWindows(qendra)));
    QVERIFY(agente.Iniciar());
    const RespuestaHttp respuesta =
        agente.Post(QStringLiteral("/csv-base64"), CuerpoJson(QStringLiteral("nombreArchivo"), nombre, "a;b\r\n"));
    QCOMPARE(respuesta.cuerpo, kNombreInvalido);
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] ? Nombre de archivo inválido en /csv-base64: ") + nombre));
    QVERIFY(QDir(agente.Carpeta() + QStringLiteral("/datos")).isEmpty());
    QVERIFY(!QFileInfo::exists(qendra + QStringLiteral(".1.txt")));
}

void E2eWine::origenRechazado_data()
{
    QTest::addColumn<QByteArray>("origen");
    QTest::addColumn<QString>("registrado");
    QTest::newRow("ajeno") << QByteArray("https://evil.example") << "https://evil.example";
    QTest::newRow("sin origen") << QByteArray() << "";
    QTest::newRow("localhost fuera de DEV") << QByteArray("http://localhost:5173") << "http://localhost:5173";
}

void E2eWine::origenRechazado()
{
    QFETCH(QByteArray, origen);
    QFETCH(QString, registrado);
    AgenteWine agente;
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\nMODE=PRO\r\n"));
    QVERIFY(agente.Iniciar());
    QCOMPARE(agente.Get(QStringLiteral("/status"), origen).bruta, k403);
    QVERIFY(
        agente.EsperarLineaLog(QStringLiteral("] Origen denegado: ") + registrado + QStringLiteral(" | MODE: PRO")));
    QCOMPARE(agente.Get(QStringLiteral("/status")).estado, 200);
}

void E2eWine::sinConfiguracion()
{
    AgenteWine agente;
    QCOMPARE(agente.EjecutarHastaFin(), 1);
    const QStringList lineas = agente.LineasLog();
    QCOMPARE(lineas.size(), 1);
    QVERIFY(lineas.first().endsWith(QStringLiteral("] No se encontró el archivo de configuración.")));
}

void E2eWine::segundaInstanciaTerminaCallada()
{
    AgenteWine primero;
    primero.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY(primero.Iniciar());
    AgenteWine segundo;
    // The same HTTP port from another folder.
    segundo.ConfigurarTexto(QStringLiteral("[Configuracion]\r\nPuertoHTTP=%1\r\n").arg(primero.Puerto()).toUtf8());
    QCOMPARE(segundo.EjecutarHastaFin(), 0);
    QVERIFY(!QFileInfo::exists(segundo.Carpeta() + QStringLiteral("/logs")));
    QCOMPARE(primero.Get(QStringLiteral("/status")).estado, 200);
    QCOMPARE(primero.Proceso().state(), QProcess::Running);
}

void E2eWine::despuesDeUnCierreForzadoArrancaOtro()
{
    // A forced end (a crash, a power cut) leaves the instance lock in %TEMP% naming a dead process. After the
    // restart the next agent may well get that very process id back; it must still start. Here `wineserver -k`
    // stands for the restart: the next Wine session numbers its processes from the start again, and the sockets Wine
    // keeps open for a while after a forced end are closed.
    AgenteWine::ReiniciarWine();
    AgenteWine agente;
    agente.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY(agente.Iniciar());
    agente.Terminar();
    QCOMPARE(agente.Proceso().state(), QProcess::NotRunning);
    AgenteWine::ReiniciarWine();

    AgenteWine otro;
    otro.FijarPuerto(agente.Puerto());
    otro.Configurar(QStringLiteral("Comportamiento=PORPEDIDO\r\n"));
    QVERIFY2(otro.Iniciar(), qPrintable(QStringLiteral("terminó con %1").arg(otro.Proceso().exitCode())));
    QCOMPARE(otro.Get(QStringLiteral("/status")).estado, 200);
}

void E2eWine::detenerDesdeOtroProceso()
{
    AgenteWine agente;
    agente.Configurar(QStringLiteral("Comportamiento=NORMAL\r\n"));
    QVERIFY(agente.Iniciar());
    // What an installer runs: the same executable, which signals the running one and waits for it to end.
    int codigo = -1;
    AgenteWine::EjecutarWine(
        {agente.CarpetaWindows() + QStringLiteral("\\plugin-tornavo.exe"), QStringLiteral("--detener")}, &codigo);
    QCOMPARE(codigo, 0);
    QVERIFY(agente.Proceso().waitForFinished(20000));
    QCOMPARE(agente.Proceso().exitCode(), 0);
    QVERIFY(agente.LineasLog().last().endsWith(QLatin1String("] ?? Servidor detenido correctamente.")));
    // With none running it ends at once, successfully.
    AgenteWine::EjecutarWine(
        {agente.CarpetaWindows() + QStringLiteral("\\plugin-tornavo.exe"), QStringLiteral("--detener")}, &codigo);
    QCOMPARE(codigo, 0);
}

QTEST_GUILESS_MAIN(E2eWine)
#include "e2e_wine.moc"
