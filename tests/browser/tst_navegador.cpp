// The agent with its real client: headless Chromium opens the web developer's kit page from the web application's
// host and calls every endpoint with fetch, against a simulated scale, a private CUPS and a stand-in Qendra.
#include "navegador.h"
#include "servidor_paginas.h"
#include "support/agente_prueba.h"
#include "support/cups_privado.h"
#include "support/esperar_escucha.h"
#include "support/pdf_de_prueba.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

using soporte::AgenteDePrueba;
using soporte::PdfDePrueba;

namespace {

const QString kAplicacion = QStringLiteral("app.tornavo.com");
const QString kTiendaAjena = QStringLiteral("shop.example");
const QString kReglasNombres = QStringLiteral("--host-resolver-rules=MAP app.tornavo.com 127.0.0.1, MAP shop.example "
                                              "127.0.0.1");

// `texto` as a JavaScript string literal.
QString Js(const QString& texto)
{
    const QByteArray arreglo = QJsonDocument(QJsonArray{texto}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(arreglo.mid(1, arreglo.size() - 2));
}

// JavaScript that puts a file into a file field, as a user choosing it would, and fires its change event.
QString ElegirArchivo(const QString& campo, const QString& nombre, const QByteArray& bytes, const QString& tipo)
{
    return QStringLiteral(
               "(() => { const campo = document.getElementById(%1); const t = new DataTransfer();"
               " t.items.add(new File([Uint8Array.from(atob(%2), (c) => c.charCodeAt(0))], %3, {type: %4}));"
               " campo.files = t.files; campo.dispatchEvent(new Event('change')); return campo.files.length; "
               "})()")
        .arg(Js(campo), Js(QString::fromLatin1(bytes.toBase64())), Js(nombre), Js(tipo));
}

int Contar(const QStringList& lineas, const QString& texto)
{
    int n = 0;
    for (const QString& linea : lineas) {
        n += linea.contains(texto) ? 1 : 0;
    }
    return n;
}

// Children must not outlive a test that crashes.
void MorirConElPadre()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

} // namespace

class TstNavegador : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void estado();
    void impresoras();
    void peso_data();
    void peso();
    void pesoContinuo();
    void pesoEnVivo();
    void imprimir_data();
    void imprimir();
    void impresoraDesconocida();
    void csv_data();
    void csv();
    void origenNoPermitido_data();
    void origenNoPermitido();
    void redLocal_data();
    void redLocal();
    void modulo_data();
    void modulo();
    void documentoGrande_data();
    void documentoGrande();
    void unaSolaFamilia_data();
    void unaSolaFamilia();
    void registroSinErrores();

private:
    QUrl UrlBanco(const QString& esquema, const QString& host, quint16 puerto) const;
    bool AbrirBanco(Navegador& navegador, const QUrl& url, QString& error);
    QJsonObject Ejecutar(Navegador& navegador, const QString& expresion, QString& error);
    QString Texto(Navegador& navegador, const QString& id);
    bool FijarPeso(const QString& kilos);
    bool OrdenBalanza(const QString& orden);
    QString IniciarHttps();
    QStringList ArchivosCSV() const;
    QStringList LlamadasQendra() const;

    QStringList m_erroresEsperados; // error lines that a test caused on purpose
    QTemporaryDir m_datos;
    soporte::CupsPrivado m_cups;
    QString m_sinCups;
    QProcess m_balanza;
    QString m_dispositivo; // the simulated scale's device
    AgenteDePrueba m_agente;
    ServidorPaginas m_http;
    ServidorPaginas m_https;
    Navegador m_navegador;
};

QUrl TstNavegador::UrlBanco(const QString& esquema, const QString& host, quint16 puerto) const
{
    return QUrl(QStringLiteral("%1://%2:%3/banco-de-pruebas.html?agente=http://localhost:%4")
                    .arg(esquema, host)
                    .arg(puerto)
                    .arg(m_agente.Puerto()));
}

bool TstNavegador::AbrirBanco(Navegador& navegador, const QUrl& url, QString& error)
{
    if (!navegador.Abrir(url, &error)) {
        return false;
    }
    // The page is ours only when its script ran.
    const QJsonValue listo = navegador.Evaluar(QStringLiteral("typeof Banco === 'object'"), &error);
    if (!listo.toBool()) {
        error = QStringLiteral("la página no cargó su programa: ") + error;
        return false;
    }
    return true;
}

QJsonObject TstNavegador::Ejecutar(Navegador& navegador, const QString& expresion, QString& error)
{
    error.clear();
    const QJsonValue valor = navegador.Evaluar(expresion, &error);
    if (error.isEmpty() && !valor.isObject()) {
        error = QStringLiteral("la página no devolvió un resultado: ") +
                QString::fromUtf8(QJsonDocument(QJsonArray{valor}).toJson(QJsonDocument::Compact));
    }
    return valor.toObject();
}

QString TstNavegador::Texto(Navegador& navegador, const QString& id)
{
    return navegador.Evaluar(QStringLiteral("document.getElementById(%1).textContent").arg(Js(id))).toString();
}

bool TstNavegador::FijarPeso(const QString& kilos)
{
    return OrdenBalanza(QStringLiteral("peso ") + kilos);
}

bool TstNavegador::OrdenBalanza(const QString& orden)
{
    m_balanza.readAllStandardOutput();
    m_balanza.write(orden.toUtf8() + '\n');
    QByteArray respuesta;
    while (!respuesta.contains('\n') && m_balanza.waitForReadyRead(15000)) {
        respuesta += m_balanza.readAllStandardOutput();
    }
    return respuesta.startsWith("ok");
}

// The web application's page over HTTPS, with a self-signed certificate for its host made for this run; empty
// text when it is served, otherwise why not.
QString TstNavegador::IniciarHttps()
{
    QTemporaryDir claves;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   claves.filePath(QStringLiteral("clave.pem")), QStringLiteral("-out"),
                   claves.filePath(QStringLiteral("certificado.pem")), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=") + kAplicacion, QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=DNS:") + kAplicacion});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        return QStringLiteral("openssl (paquete openssl): ") + openssl.errorString() +
               QString::fromLocal8Bit(openssl.readAllStandardError());
    }
    QString error;
    m_https.Iniciar(soporte::LeerArchivo(claves.filePath(QStringLiteral("certificado.pem"))),
                    soporte::LeerArchivo(claves.filePath(QStringLiteral("clave.pem"))), &error);
    return error;
}

QStringList TstNavegador::ArchivosCSV() const
{
    return QDir(m_datos.filePath(QStringLiteral("csv"))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList TstNavegador::LlamadasQendra() const
{
    return QString::fromUtf8(soporte::LeerArchivo(m_datos.filePath(QStringLiteral("Qendra/llamadas.txt"))))
        .split(u'\n', Qt::SkipEmptyParts);
}

void TstNavegador::initTestCase()
{
    QVERIFY2(m_datos.isValid(), "carpeta temporal");
    QVERIFY2(!Navegador::Programa().isEmpty(), "falta Chromium (paquete chromium)");

    const QByteArray banco = soporte::LeerArchivo(qEnvironmentVariable("TORNAVO_SOURCE_DIR") +
                                                  QStringLiteral("/examples/banco-de-pruebas.html"));
    QVERIFY2(!banco.isEmpty(), "no se encontró examples/banco-de-pruebas.html");
    // The page imports the module from ../web/, which from the top of the site is /web/.
    const QByteArray modulo =
        soporte::LeerArchivo(qEnvironmentVariable("TORNAVO_SOURCE_DIR") + QStringLiteral("/web/plugin-tornavo.js"));
    QVERIFY2(!modulo.isEmpty(), "no se encontró web/plugin-tornavo.js");
    for (ServidorPaginas* servidor : {&m_http, &m_https}) {
        servidor->Publicar(QStringLiteral("/banco-de-pruebas.html"), banco, "text/html; charset=utf-8");
        servidor->Publicar(QStringLiteral("/web/plugin-tornavo.js"), modulo, "text/javascript; charset=utf-8");
    }

    // The printers: a private scheduler whose queues write PostScript into files.
    m_sinCups = m_cups.Iniciar();
    if (m_sinCups.isEmpty() && (!m_cups.AgregarCola(QStringLiteral("Caja"), QStringLiteral("caja.ps")) ||
                                !m_cups.AgregarCola(QStringLiteral("Etiquetas-Año"), QStringLiteral("etiquetas.ps")) ||
                                !m_cups.FijarPredeterminada(QStringLiteral("Caja")))) {
        m_sinCups = QStringLiteral("no se pudieron crear las colas: ") + m_cups.UltimoError();
    }
    if (!m_sinCups.isEmpty()) {
        qWarning("Sin impresoras: %s", qPrintable(m_sinCups));
    }

    // The scale: the simulator prints the device to use on its first line.
    m_balanza.setChildProcessModifier(MorirConElPadre);
    m_balanza.start(
        QDir(soporte::CarpetaBinarios()).filePath(QStringLiteral("balanza-simulada")),
        {QStringLiteral("--protocolo"), QStringLiteral("SYSTEL1"), QStringLiteral("--peso"), QStringLiteral("2.345")});
    QVERIFY2(m_balanza.waitForStarted(15000), qPrintable(m_balanza.errorString()));
    QByteArray primera;
    while (!primera.contains('\n') && m_balanza.waitForReadyRead(15000)) {
        primera += m_balanza.readAllStandardOutput();
    }
    m_dispositivo = QString::fromLocal8Bit(primera.left(primera.indexOf('\n'))).trimmed();
    QVERIFY2(!m_dispositivo.isEmpty(), m_balanza.readAllStandardError().constData());

    // Qendra: a script that notes its folder and arguments.
    const QString qendra = m_datos.filePath(QStringLiteral("Qendra/Qendra"));
    QVERIFY(soporte::EscribirArchivo(
        qendra, "#!/bin/sh\nprintf '%s|%s\\n' \"$(pwd)\" \"$*\" >> \"$(dirname \"$0\")/llamadas.txt\"\n"));
    QVERIFY(QFile::setPermissions(qendra, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    // The CSV folder does not exist yet: the agent makes it.
    m_agente.Configurar(QStringLiteral("MODE=PRO\r\nComportamiento=NORMAL\r\nProtocoloBalanza=Systel1\r\n"
                                       "DispositivoBalanza=%1\r\nCarpetaCSV=%2/\r\nProgramaQendra=%3\r\n")
                            .arg(m_dispositivo, m_datos.filePath(QStringLiteral("csv")), qendra));
    m_agente.Proceso().setChildProcessModifier(MorirConElPadre);
    QStringList entorno;
    if (m_sinCups.isEmpty()) {
        entorno << QStringLiteral("CUPS_SERVER=") + m_cups.Socket();
    } else {
        // Never the machine's own printers.
        entorno << QStringLiteral("CUPS_SERVER=") + m_datos.filePath(QStringLiteral("sin-cups.sock"));
    }
    QVERIFY2(m_agente.Iniciar(entorno), m_agente.SalidaDeError().constData());

    QString error;
    QVERIFY2(m_http.Iniciar({}, {}, &error), qPrintable(error));
    error = IniciarHttps();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = m_navegador.Iniciar({kReglasNombres, QStringLiteral("--ignore-certificate-errors")});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TstNavegador::cleanupTestCase()
{
    m_navegador.Cerrar();
    m_agente.Detener();
    soporte::DetenerProceso(m_balanza);
    m_cups.Detener();
}

void TstNavegador::estado()
{
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.consultarEstado()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(r.value(QLatin1String("error")).toString()));
    QCOMPARE(r.value(QLatin1String("estado")).toInt(), 200);
    const QJsonObject estado = r.value(QLatin1String("json")).toObject();
    QCOMPARE(estado.value(QLatin1String("status")).toString(), QStringLiteral("ok"));
    QCOMPARE(estado.value(QLatin1String("servidor")).toString(), QStringLiteral("Tornavo"));
    QCOMPARE(estado.value(QLatin1String("MODE")).toString(), QStringLiteral("PRO"));
    QCOMPARE(estado.value(QLatin1String("puerto")).toString(), QString::number(m_agente.Puerto()));
    QCOMPARE(estado.value(QLatin1String("protocolo_balanza")).toString(), QStringLiteral("Systel1"));

    // What the page shows.
    const QString tabla = Texto(m_navegador, QStringLiteral("estado"));
    QVERIFY2(tabla.contains(QStringLiteral("Versión") + estado.value(QLatin1String("version")).toString()),
             qPrintable(tabla));
    QCOMPARE(Texto(m_navegador, QStringLiteral("resultado-estado")), QStringLiteral("El agente responde."));
}

void TstNavegador::impresoras()
{
    if (!m_sinCups.isEmpty()) {
        QSKIP(qPrintable(m_sinCups));
    }
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.listarImpresoras()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(r.value(QLatin1String("error")).toString()));
    QStringList lista;
    for (const QJsonValue& nombre :
         r.value(QLatin1String("json")).toObject().value(QLatin1String("impresoras")).toArray()) {
        lista << nombre.toString();
    }
    QVERIFY2(!lista.isEmpty() && lista.takeFirst() == QLatin1String("PREDETERMINADA"), qPrintable(lista.join(u',')));
    lista.sort();
    QCOMPARE(lista, (QStringList{QStringLiteral("Caja"), QStringLiteral("Etiquetas-Año")}));

    // The drop-down offers exactly the list, in its order.
    const QJsonValue opciones = m_navegador.Evaluar(
        QStringLiteral("Array.from(document.getElementById('impresora').options, (o) => o.value)"), &error);
    QCOMPARE(opciones.toArray(),
             r.value(QLatin1String("json")).toObject().value(QLatin1String("impresoras")).toArray());
    QCOMPARE(Texto(m_navegador, QStringLiteral("resultado-impresoras")), QStringLiteral("2 impresoras instaladas."));
}

void TstNavegador::peso_data()
{
    QTest::addColumn<QString>("kilos");
    QTest::addColumn<QString>("esperado");
    QTest::newRow("con gramos") << QStringLiteral("2.345") << QStringLiteral("2.345");
    QTest::newRow("entero") << QStringLiteral("7") << QStringLiteral("7.000");
    QTest::newRow("menos de un kilo") << QStringLiteral("0.125") << QStringLiteral("0.125");
}

void TstNavegador::peso()
{
    QFETCH(QString, kilos);
    QFETCH(QString, esperado);
    QVERIFY(FijarPeso(kilos));
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.leerPeso()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(r.value(QLatin1String("error")).toString()));
    QCOMPARE(r.value(QLatin1String("texto")).toString(), esperado);
    QCOMPARE(Texto(m_navegador, QStringLiteral("peso")), esperado);
}

void TstNavegador::pesoContinuo()
{
    QVERIFY(FijarPeso(QStringLiteral("1.5")));
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    m_navegador.Evaluar(QStringLiteral("document.getElementById('peso-intervalo').value = 200; "
                                       "Banco.pesoContinuo(true)"),
                        &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(Texto(m_navegador, QStringLiteral("peso")), QStringLiteral("1.500"), 30000);

    // A new weight on the scale shows up without another click.
    QVERIFY(FijarPeso(QStringLiteral("3.25")));
    QTRY_COMPARE_WITH_TIMEOUT(Texto(m_navegador, QStringLiteral("peso")), QStringLiteral("3.250"), 30000);
    m_navegador.Evaluar(QStringLiteral("Banco.pesoContinuo(false)"));
    QVERIFY(!m_navegador.Evaluar(QStringLiteral("document.getElementById('peso-continuo').checked")).toBool());
}

// The browser's own EventSource on GET /balanza/eventos: a weight typed into the scale shows up as an event.
void TstNavegador::pesoEnVivo()
{
    QVERIFY(FijarPeso(QStringLiteral("5.5")));
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    m_navegador.Evaluar(QStringLiteral("window.lecturas = []; window.fuente = new EventSource("
                                       "'http://localhost:%1/balanza/eventos'); "
                                       "fuente.onmessage = (e) => lecturas.push(JSON.parse(e.data).peso); true")
                            .arg(m_agente.Puerto()),
                        &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString ultima = QStringLiteral("lecturas.length ? lecturas[lecturas.length - 1] : ''");
    QTRY_COMPARE_WITH_TIMEOUT(m_navegador.Evaluar(ultima).toString(), QStringLiteral("5.500"), 30000);
    QVERIFY(FijarPeso(QStringLiteral("8")));
    QTRY_COMPARE_WITH_TIMEOUT(m_navegador.Evaluar(ultima).toString(), QStringLiteral("8.000"), 30000);
    QCOMPARE(m_navegador.Evaluar(QStringLiteral("fuente.readyState")).toInt(), 1);
    m_navegador.Evaluar(QStringLiteral("fuente.close()"));

    // The test bench follows the weight through the module, with its stability, and asks for a settled one.
    const QString estabilidad = QStringLiteral("estabilidad");
    m_navegador.Evaluar(QStringLiteral("Banco.pesoEnVivo(true)"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(Texto(m_navegador, estabilidad), QStringLiteral("estable"), 30000);
    QCOMPARE(Texto(m_navegador, QStringLiteral("peso")), QStringLiteral("8.000"));
    QVERIFY(FijarPeso(QStringLiteral("3 1500")));
    QTRY_COMPARE_WITH_TIMEOUT(Texto(m_navegador, estabilidad), QStringLiteral("inestable"), 30000);
    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.pesoEstable()"), error);
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(error + r.value(QLatin1String("error")).toString()));
    QCOMPARE(Texto(m_navegador, QStringLiteral("peso")), QStringLiteral("3.000"));
    QCOMPARE(Texto(m_navegador, estabilidad), QStringLiteral("estable"));
    m_navegador.Evaluar(QStringLiteral("Banco.pesoEnVivo(false)"));
}

void TstNavegador::imprimir_data()
{
    QTest::addColumn<QString>("impresora");
    QTest::addColumn<QString>("salida");
    QTest::newRow("predeterminada") << QStringLiteral("PREDETERMINADA") << QStringLiteral("caja.ps");
    QTest::newRow("por nombre") << QStringLiteral("Caja") << QStringLiteral("caja.ps");
    QTest::newRow("nombre con tilde") << QStringLiteral("Etiquetas-Año") << QStringLiteral("etiquetas.ps");
}

void TstNavegador::imprimir()
{
    if (!m_sinCups.isEmpty()) {
        QSKIP(qPrintable(m_sinCups));
    }
    QFETCH(QString, impresora);
    QFETCH(QString, salida);
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    Ejecutar(m_navegador, QStringLiteral("Banco.listarImpresoras()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString elegida = m_navegador
                                .Evaluar(QStringLiteral("document.getElementById('impresora').value = %1; "
                                                        "document.getElementById('impresora').value")
                                             .arg(Js(impresora)))
                                .toString();
    QCOMPARE(elegida, impresora);

    const QByteArray pdf = PdfDePrueba("Ticket " + QByteArray(QTest::currentDataTag()).toPercentEncoding());
    QCOMPARE(m_navegador
                 .Evaluar(ElegirArchivo(QStringLiteral("pdf"), QStringLiteral("ticket.pdf"), pdf,
                                        QStringLiteral("application/pdf")))
                 .toInt(),
             1);
    const QString archivoSalida = QDir(m_cups.CarpetaSalida()).filePath(salida);
    QFile::remove(archivoSalida);
    const int documentos = int(m_cups.Documentos().size());
    const int preflights = Contar(m_agente.LineasLog(), QStringLiteral("Solicitud recibida: OPTIONS /print-base64"));

    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.imprimir()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(r.value(QLatin1String("error")).toString()));
    const QJsonValue trabajo = r.value(QLatin1String("json")).toObject().value(QLatin1String("trabajo"));
    QVERIFY(trabajo.toString().toInt() > 0);
    const QJsonObject esperado{{QStringLiteral("success"), true},
                               {QStringLiteral("impresora"), impresora},
                               {QStringLiteral("trabajo"), trabajo}};
    QCOMPARE(r.value(QLatin1String("json")).toObject(), esperado);
    QCOMPARE(Texto(m_navegador, QStringLiteral("resultado-imprimir")),
             QStringLiteral("Impresión enviada a %1.").arg(impresora));
    // The browser asked first, as it must for a JSON body (the page's 'no-store' also skips its preflight cache).
    QVERIFY(Contar(m_agente.LineasLog(), QStringLiteral("Solicitud recibida: OPTIONS /print-base64")) > preflights);

    // The scheduler got exactly the page's file, and the queue rendered it.
    QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.Documentos().size()), documentos + 1, 60000);
    QCOMPARE(soporte::LeerArchivo(m_cups.Documentos().constLast()), pdf);
    QTRY_VERIFY2_WITH_TIMEOUT(soporte::LeerArchivo(archivoSalida).contains("%%EOF"), qPrintable(m_cups.Bitacora()),
                              60000);
    QVERIFY(soporte::LeerArchivo(archivoSalida).startsWith("%!PS"));
}

void TstNavegador::impresoraDesconocida()
{
    if (!m_sinCups.isEmpty()) {
        QSKIP(qPrintable(m_sinCups));
    }
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    // A printer that went away after the list was loaded.
    m_navegador.Evaluar(
        QStringLiteral("(() => { const s = document.getElementById('impresora'); "
                       "s.add(new Option('Cocina-Ñandú', 'Cocina-Ñandú')); s.value = 'Cocina-Ñandú'; })()"));
    QCOMPARE(m_navegador
                 .Evaluar(ElegirArchivo(QStringLiteral("pdf"), QStringLiteral("ticket.pdf"), PdfDePrueba("Cocina"),
                                        QStringLiteral("application/pdf")))
                 .toInt(),
             1);
    const int documentos = int(m_cups.Documentos().size());

    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.imprimir()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!r.value(QLatin1String("ok")).toBool());
    const QJsonObject json = r.value(QLatin1String("json")).toObject();
    QCOMPARE(json.value(QLatin1String("success")), QJsonValue(false));
    QCOMPARE(json.value(QLatin1String("error")).toString(), QStringLiteral("Impresora no encontrada: Cocina-Ñandú"));
    const QJsonArray disponibles =
        json.value(QLatin1String("impresorasDisponibles")).toObject().value(QLatin1String("impresoras")).toArray();
    QVERIFY(disponibles.contains(QStringLiteral("Etiquetas-Año")));
    QVERIFY(Texto(m_navegador, QStringLiteral("resultado-imprimir"))
                .startsWith(QStringLiteral("Impresora no encontrada: Cocina-Ñandú\nDisponibles: ")));
    // The answer came after the decision, so nothing can be on its way to the scheduler.
    QCOMPARE(int(m_cups.Documentos().size()), documentos);
}

void TstNavegador::csv_data()
{
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<QString>("guardado");
    QTest::addColumn<QString>("fallo");
    QTest::newRow("nombre con tildes") << QStringLiteral("precios-señal.csv") << QStringLiteral("precios-señal.csv")
                                       << QString();
    QTest::newRow("sin nombre") << QString() << QStringLiteral("archivo.csv") << QString();
    QTest::newRow("nombre con carpeta") << QStringLiteral("../fuera.csv") << QString()
                                        << QStringLiteral("Nombre de archivo inválido");
}

void TstNavegador::csv()
{
    QFETCH(QString, nombre);
    QFETCH(QString, guardado);
    QFETCH(QString, fallo);
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    const QByteArray contenido = QStringLiteral("código;descripción;precio\r\n1;Jamón ibérico;12,50\r\n2;%1;3\r\n")
                                     .arg(QString::fromUtf8(QTest::currentDataTag()))
                                     .toUtf8();
    QCOMPARE(m_navegador
                 .Evaluar(ElegirArchivo(QStringLiteral("csv"), QStringLiteral("lista.csv"), contenido,
                                        QStringLiteral("text/csv")))
                 .toInt(),
             1);
    // Choosing the file proposes its name; the row's name replaces it.
    QCOMPARE(m_navegador.Evaluar(QStringLiteral("document.getElementById('nombre-csv').value")).toString(),
             QStringLiteral("lista.csv"));
    m_navegador.Evaluar(QStringLiteral("document.getElementById('nombre-csv').value = %1").arg(Js(nombre)));
    if (!guardado.isEmpty()) {
        QFile::remove(QDir(m_datos.filePath(QStringLiteral("csv"))).filePath(guardado));
    }
    const QStringList antes = ArchivosCSV();
    const int llamadas = int(LlamadasQendra().size());

    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.enviarCSV()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QJsonObject json = r.value(QLatin1String("json")).toObject();
    if (!fallo.isEmpty()) {
        QVERIFY(!r.value(QLatin1String("ok")).toBool());
        QCOMPARE(json, (QJsonObject{{QStringLiteral("success"), false}, {QStringLiteral("error"), fallo}}));
        QCOMPARE(Texto(m_navegador, QStringLiteral("resultado-csv")), fallo);
        QCOMPARE(ArchivosCSV(), antes);
        QVERIFY(!QFile::exists(m_datos.filePath(QStringLiteral("fuera.csv"))));
        QCOMPARE(int(LlamadasQendra().size()), llamadas);
        return;
    }
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(r.value(QLatin1String("error")).toString()));
    QCOMPARE(json, (QJsonObject{{QStringLiteral("success"), true},
                                {QStringLiteral("mensaje"), QStringLiteral("CSV recibido y ejecutado")}}));
    QCOMPARE(Texto(m_navegador, QStringLiteral("resultado-csv")), QStringLiteral("CSV recibido y ejecutado"));
    QCOMPARE(soporte::LeerArchivo(QDir(m_datos.filePath(QStringLiteral("csv"))).filePath(guardado)), contenido);
    // Qendra was started in its own folder with its import switch.
    QTRY_COMPARE_WITH_TIMEOUT(int(LlamadasQendra().size()), llamadas + 1, 30000);
    QCOMPARE(LlamadasQendra().constLast(), m_datos.filePath(QStringLiteral("Qendra")) + QStringLiteral("|-i"));
}

void TstNavegador::origenNoPermitido_data()
{
    QTest::addColumn<QString>("preparar");
    QTest::addColumn<QString>("accion");
    QTest::addColumn<QString>("resultado");
    QTest::addColumn<bool>("envio");
    QTest::newRow("estado") << QString() << QStringLiteral("Banco.consultarEstado()")
                            << QStringLiteral("resultado-estado") << false;
    QTest::newRow("impresoras") << QString() << QStringLiteral("Banco.listarImpresoras()")
                                << QStringLiteral("resultado-impresoras") << false;
    QTest::newRow("peso") << QString() << QStringLiteral("Banco.leerPeso()") << QStringLiteral("resultado-peso")
                          << false;
    QTest::newRow("imprimir") << ElegirArchivo(QStringLiteral("pdf"), QStringLiteral("ajeno.pdf"), PdfDePrueba("Ajeno"),
                                               QStringLiteral("application/pdf"))
                              << QStringLiteral("Banco.imprimir()") << QStringLiteral("resultado-imprimir") << true;
    QTest::newRow("csv") << ElegirArchivo(QStringLiteral("csv"), QStringLiteral("ajeno.csv"), "a;b\r\n",
                                          QStringLiteral("text/csv"))
                         << QStringLiteral("Banco.enviarCSV()") << QStringLiteral("resultado-csv") << true;
}

void TstNavegador::origenNoPermitido()
{
    QFETCH(QString, preparar);
    QFETCH(QString, accion);
    QFETCH(QString, resultado);
    QFETCH(bool, envio);
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kTiendaAjena, m_http.Puerto()), error),
             qPrintable(error));
    if (!preparar.isEmpty()) {
        QCOMPARE(m_navegador.Evaluar(preparar).toInt(), 1);
    }
    const QString rechazo =
        QStringLiteral("Origen denegado: http://%1:%2 | MODE: PRO").arg(kTiendaAjena).arg(m_http.Puerto());
    const QStringList lineas = m_agente.LineasLog();
    const int rechazos = Contar(lineas, rechazo);
    const int envios = Contar(lineas, QStringLiteral("Solicitud recibida: POST"));
    const int documentos = m_sinCups.isEmpty() ? int(m_cups.Documentos().size()) : 0;
    const QStringList csv = ArchivosCSV();
    const int llamadas = int(LlamadasQendra().size());

    const QJsonObject r = Ejecutar(m_navegador, accion, error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!r.value(QLatin1String("ok")).toBool());
    if (envio) {
        // The preflight is refused, so the browser never sends the body: fetch fails.
        QVERIFY(r.value(QLatin1String("red")).toBool());
        QCOMPARE(r.value(QLatin1String("estado")).toInt(), 0);
    } else {
        // A refused GET still carries Access-Control-Allow-Origin, so the page can read why.
        QCOMPARE(r.value(QLatin1String("estado")).toInt(), 403);
        QCOMPARE(
            r.value(QLatin1String("json")).toObject(),
            (QJsonObject{{QStringLiteral("error"), QStringLiteral("Acceso denegado desde origen no autorizado")}}));
    }
    QVERIFY(
        m_navegador.Evaluar(QStringLiteral("document.getElementById(%1).classList.contains('mal')").arg(Js(resultado)))
            .toBool());
    QVERIFY(!Texto(m_navegador, resultado).isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(Contar(m_agente.LineasLog(), rechazo) > rechazos, 15000);
    QCOMPARE(Contar(m_agente.LineasLog(), QStringLiteral("Solicitud recibida: POST")), envios);
    if (m_sinCups.isEmpty()) {
        QCOMPARE(int(m_cups.Documentos().size()), documentos);
    }
    QCOMPARE(ArchivosCSV(), csv);
    QCOMPARE(int(LlamadasQendra().size()), llamadas);
}

void TstNavegador::redLocal_data()
{
    QTest::addColumn<QString>("esquema");
    QTest::addColumn<bool>("publica");
    QTest::addColumn<bool>("conceder");
    QTest::addColumn<bool>("funciona");
    QTest::addColumn<bool>("politica"); // the package's managed policy installed for Chromium
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("permiso"); // what the module's permiso() says after the calls
    const QString app = kAplicacion;
    QTest::newRow("https local") << QStringLiteral("https") << false << false << true << false << app
                                 << QStringLiteral("preguntar");
    QTest::newRow("https pública sin permiso")
        << QStringLiteral("https") << true << false << false << false << app << QStringLiteral("denegado");
    QTest::newRow("https pública con permiso")
        << QStringLiteral("https") << true << true << true << false << app << QStringLiteral("concedido");
    QTest::newRow("http pública") << QStringLiteral("http") << true << false << false << false << app
                                  << QStringLiteral("denegado");
    QTest::newRow("https pública con la política")
        << QStringLiteral("https") << true << false << true << true << app << QStringLiteral("concedido");
    QTest::newRow("https pública ajena con la política")
        << QStringLiteral("https") << true << false << false << true << kTiendaAjena << QStringLiteral("denegado");
}

void TstNavegador::redLocal()
{
    QFETCH(QString, esquema);
    QFETCH(bool, publica);
    QFETCH(bool, conceder);
    QFETCH(bool, funciona);
    QFETCH(bool, politica);
    QFETCH(QString, host);
    QFETCH(QString, permiso);

    // Chromium reads its managed policies from this one folder, at start.
    const QDir politicas(QStringLiteral("/etc/chromium/policies/managed"));
    const QString paquete = politicas.filePath(QStringLiteral("plugin-tornavo.json"));
    if (QFileInfo::exists(paquete) || QFileInfo(paquete).isSymLink()) {
        QSKIP("plugin-tornavo está instalado: su política de Chromium cambiaría lo que se prueba aquí");
    }
    std::unique_ptr<soporte::ArchivoTemporalDeSistema> instalada;
    if (politica) {
        // The very file the package installs, linked as the package links it.
        if (::geteuid() != 0) {
            QSKIP("instalar una política de Chromium en /etc/chromium/policies/managed necesita root");
        }
        instalada = std::make_unique<soporte::ArchivoTemporalDeSistema>(
            politicas.filePath(QStringLiteral("plugin-tornavo-prueba.json")),
            qEnvironmentVariable("TORNAVO_SOURCE_DIR") + QStringLiteral("/paquetes/debian/politica-navegador.json"));
        QVERIFY2(instalada->Error().isEmpty(), qPrintable(instalada->Error()));
    }

    const quint16 puerto = esquema == QLatin1String("https") ? m_https.Puerto() : m_http.Puerto();
    QStringList argumentos{kReglasNombres, QStringLiteral("--ignore-certificate-errors")};
    if (publica) {
        argumentos << QStringLiteral("--ip-address-space-overrides=127.0.0.1:%1=public").arg(puerto);
    }
    Navegador navegador;
    QString error = navegador.Iniciar(argumentos);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    if (conceder) {
        QVERIFY2(navegador.Conceder(QStringLiteral("%1://%2:%3").arg(esquema, kAplicacion).arg(puerto),
                                    {QStringLiteral("loopbackNetwork")}, &error),
                 qPrintable(error));
    }
    QVERIFY2(AbrirBanco(navegador, UrlBanco(esquema, host, puerto), error), qPrintable(error));

    const QJsonObject estado = Ejecutar(navegador, QStringLiteral("Banco.consultarEstado()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString guardado = QStringLiteral("red-local-%1.csv").arg(QTest::currentDataTag()).replace(u' ', u'-');
    QCOMPARE(navegador.Evaluar(ElegirArchivo(QStringLiteral("csv"), guardado, "x;y\r\n", QStringLiteral("text/csv")))
                 .toInt(),
             1);
    const QJsonObject envio = Ejecutar(navegador, QStringLiteral("Banco.enviarCSV()"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString rutaGuardado = QDir(m_datos.filePath(QStringLiteral("csv"))).filePath(guardado);

    if (funciona) {
        QVERIFY2(estado.value(QLatin1String("ok")).toBool(),
                 qPrintable(estado.value(QLatin1String("error")).toString()));
        QCOMPARE(estado.value(QLatin1String("json")).toObject().value(QLatin1String("status")).toString(),
                 QStringLiteral("ok"));
        QVERIFY2(envio.value(QLatin1String("ok")).toBool(), qPrintable(envio.value(QLatin1String("error")).toString()));
        QCOMPARE(soporte::LeerArchivo(rutaGuardado), QByteArray("x;y\r\n"));
    } else {
        // The browser blocks the call before it reaches the agent, and the module tells so.
        QVERIFY(estado.value(QLatin1String("red")).toBool());
        QCOMPARE(estado.value(QLatin1String("codigo")).toString(), QStringLiteral("bloqueado"));
        QCOMPARE(envio.value(QLatin1String("codigo")).toString(), QStringLiteral("bloqueado"));
        QVERIFY2(estado.value(QLatin1String("error")).toString().contains(QStringLiteral("TypeError: Failed to fetch")),
                 qPrintable(estado.value(QLatin1String("error")).toString()));
        QVERIFY(envio.value(QLatin1String("red")).toBool());
        QVERIFY(!QFile::exists(rutaGuardado));
    }
    QCOMPARE(navegador.Evaluar(QStringLiteral("Banco.plugin().permiso()")).toString(), permiso);
}

void TstNavegador::modulo_data()
{
    // `llamada` is JavaScript on the test bench's page, where `p` is a PluginTornavo for the agent; `esperado` is
    // {"valor": what it gives} or {"codigo", "mensaje"} of its ErrorPlugin. Both may hold %agente% (the agent's
    // address), %libre% (a port nobody listens on), %ajena% (the foreign page's origin), %dispositivo% (the scale's
    // device), %pdf% and %csv% (Base64).
    QTest::addColumn<QString>("pagina");  // http, https: the web application's; ajena: another shop's
    QTest::addColumn<QString>("balanza"); // the simulator's order first
    QTest::addColumn<QString>("llamada");
    QTest::addColumn<QString>("esperado");
    // csv:<file> holding the CSV; impreso, nada impreso; crudo:<hex>, the bytes of a finished job; cups (needs it);
    // abandonada (the agent finds the page gone); un flujo (one scale stream at a time for two tabs); Caja detenida
    // (its queue disabled meanwhile, so that its jobs wait)
    QTest::addColumn<QString>("efecto");
    const QString http = QStringLiteral("http");
    const QString csvBien = QStringLiteral(R"({"valor":{"success":true,"mensaje":"CSV recibido y ejecutado"}})");
    const auto fallo = [](const QString& codigo, const QString& mensaje) {
        return QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("codigo"), codigo}, {QStringLiteral("mensaje"), mensaje}})
                .toJson(QJsonDocument::Compact));
    };
    QTest::newRow("estado") << http << QString()
                            << QStringLiteral("(e => [e.status, e.servidor, e.MODE, e.puerto])(await p.estado())")
                            << QStringLiteral(R"({"valor":["ok","Tornavo","PRO","%puerto%"]})") << QString();
    QTest::newRow("impresoras") << http << QString()
                                << QStringLiteral("(l => [l[0], ...l.slice(1).sort()])(await p.impresoras())")
                                << QStringLiteral(R"({"valor":["PREDETERMINADA","Caja","Etiquetas-Año"]})")
                                << QStringLiteral("cups");
    QTest::newRow("peso") << http << QStringLiteral("peso 2.345") << QStringLiteral("await p.peso()")
                          << QStringLiteral(R"({"valor":"2.345"})") << QString();
    QTest::newRow("peso cero") << http << QStringLiteral("peso 0") << QStringLiteral("await p.peso()")
                               << QStringLiteral(R"({"valor":"0.000"})") << QString();
    QTest::newRow("lectura") << http << QStringLiteral("peso 4.25")
                             << QStringLiteral("(l => [l.peso, l.kg, l.estado, l.protocolo])(await p.balanza())")
                             << QStringLiteral(R"({"valor":["4.250",4.25,"ok","Systel1"]})") << QString();
    // The weight passes through other values for 1.5 s before it settles.
    QTest::newRow("peso estable") << http << QStringLiteral("peso 6.5 1500")
                                  << QStringLiteral("(l => [l.peso, l.kg, l.estable])(await p.pesoEstable())")
                                  << QStringLiteral(R"({"valor":["6.500",6.5,true]})") << QString();
    // A second tab listens first and leads; this one follows; the other stops (after GET /status, the log's mark)
    // and this one takes the stream over.
    QTest::newRow("escuchar en dos pestañas")
        << QStringLiteral("https") << QStringLiteral("peso 3.75")
        << QStringLiteral(
               "await (async () => { const hasta = async (listo) => { const fin = performance.now() + 10000;"
               " while (!listo() && performance.now() < fin) await new Promise((r) => setTimeout(r, 100)); };"
               " const oir = (q) => { const o = { l: [] }; o.parar = q.escucharBalanza((l) => o.l.push(l.peso),"
               " (e) => o.l.push(e.codigo)); return o; };"
               " const w = open(location.href); await hasta(() => w.PluginTornavo && w.document.readyState === "
               "'complete');"
               " const otra = oir(new w.PluginTornavo({ url: '%agente%' })); await hasta(() => otra.l.length);"
               " const esta = oir(p); await hasta(() => esta.l.length); await p.estado();"
               " const n = esta.l.length; otra.parar(); await hasta(() => esta.l.length > n); esta.parar();"
               " w.close(); return [otra.l[0], esta.l[0], esta.l[n]]; })()")
        << QStringLiteral(R"({"valor":["3.750","3.750","3.750"]})") << QStringLiteral("un flujo");
    QTest::newRow("detalle de impresoras")
        << http << QString()
        << QStringLiteral("(l => l.map((i) => [i.nombre, i.predeterminada, i.estado]).sort())("
                          "await p.detalleImpresoras())")
        << QStringLiteral(R"({"valor":[["Caja",true,"lista"],["Etiquetas-Año",false,"lista"]]})")
        << QStringLiteral("cups");
    QTest::newRow("bytes en cp850")
        << http << QString()
        << QStringLiteral("(r => [r.success, r.impresora])(await p.imprimirRaw('Jamón 1,250 kg ñ€', "
                          "{ impresora: 'Etiquetas-Año', codificacion: 'cp850', nombreTrabajo: 'Etiqueta' }))")
        << QStringLiteral(R"({"valor":[true,"Etiquetas-Año"]})")
        << QStringLiteral("crudo:4a616da26e20312c323530206b6720a43f");
    QTest::newRow("bytes hasta terminar")
        << http << QString()
        << QStringLiteral("(async (r) => (t => [t.trabajo === r.trabajo, t.impresora, t.estado])(await "
                          "p.esperarTrabajo((await p.trabajo(r.trabajo)).trabajo, { hastaMs: 30000 })))("
                          "await p.imprimirRaw(new Uint8Array([27, 64, 0, 255, 10]), { impresora: 'Caja' }))")
        << QStringLiteral(R"({"valor":[true,"Caja","terminado"]})") << QStringLiteral("crudo:1b4000ff0a");
    QTest::newRow("puertos") << http << QString()
                             << QStringLiteral("(l => l.filter((x) => x.configurado).map((x) => x.ruta))("
                                               "await p.puertos())")
                             << QStringLiteral(R"({"valor":["%dispositivo%"]})") << QString();
    QTest::newRow("PDF en Uint8Array")
        << http << QString()
        << QStringLiteral("(r => [r.success, r.impresora])(await p.imprimirPdf("
                          "Uint8Array.from(atob('%pdf%'), (c) => c.charCodeAt(0)), { impresora: 'Etiquetas-Año' }))")
        << QStringLiteral(R"({"valor":[true,"Etiquetas-Año"]})") << QStringLiteral("impreso");
    QTest::newRow("PDF en Base64 a la predeterminada")
        << http << QString() << QStringLiteral("(r => [r.success, r.impresora])(await p.imprimirPdf('%pdf%'))")
        << QStringLiteral(R"({"valor":[true,"PREDETERMINADA"]})") << QStringLiteral("impreso");
    QTest::newRow("CSV en Blob") << http << QString()
                                 << QStringLiteral("p.enviarCsv(new Blob([atob('%csv%')].map((t) => "
                                                   "Uint8Array.from(t, (c) => c.charCodeAt(0)))), 'blob.csv')")
                                 << csvBien << QStringLiteral("csv:blob.csv");
    QTest::newRow("CSV en File") << http << QString()
                                 << QStringLiteral("p.enviarCsv(new File([Uint8Array.from(atob('%csv%'), "
                                                   "(c) => c.charCodeAt(0))], 'x.csv'), 'archivo-ñ.csv')")
                                 << csvBien << QStringLiteral("csv:archivo-ñ.csv");
    QTest::newRow("CSV en ArrayBuffer")
        << http << QString()
        << QStringLiteral("p.enviarCsv(Uint8Array.from(atob('%csv%'), (c) => c.charCodeAt(0)).buffer, 'ab.csv')")
        << csvBien << QStringLiteral("csv:ab.csv");
    QTest::newRow("CSV en Base64") << http << QString() << QStringLiteral("p.enviarCsv('%csv%', 'b64.csv')") << csvBien
                                   << QStringLiteral("csv:b64.csv");
    QTest::newRow("CSV en URL data") << http << QString()
                                     << QStringLiteral("p.enviarCsv('data:text/csv;base64,%csv%', 'url.csv')")
                                     << csvBien << QStringLiteral("csv:url.csv");

    const QString sinAgente = QStringLiteral("new PluginTornavo({ url: 'http://localhost:%libre%' }).estado()");
    QTest::newRow("no disponible") << QStringLiteral("https") << QString() << sinAgente
                                   << fallo(QStringLiteral("no-disponible"),
                                            QStringLiteral("No se pudo contactar con el Plugin Tornavo en "
                                                           "http://localhost:%libre%. ¿Está en marcha?"))
                                   << QString();
    // Chromium denies a page that is not a secure context any call to this machine, unless it is served from it.
    QTest::newRow("sin agente desde HTTP")
        << http << QString() << sinAgente
        << fallo(QStringLiteral("bloqueado"),
                 QStringLiteral("El navegador bloquea el acceso al Plugin Tornavo desde una "
                                "página servida por HTTP: la aplicación debe servirse "
                                "por HTTPS."))
        << QString();
    const QString rechazo = fallo(QStringLiteral("origen-rechazado"),
                                  QStringLiteral("El Plugin Tornavo rechazó esta página (%ajena%): solo admite las "
                                                 "páginas de la aplicación web."));
    QTest::newRow("origen rechazado, GET")
        << QStringLiteral("ajena") << QString() << QStringLiteral("p.peso()") << rechazo << QString();
    QTest::newRow("origen rechazado, POST")
        << QStringLiteral("ajena") << QString() << QStringLiteral("p.imprimirPdf('%pdf%')") << rechazo
        << QStringLiteral("nada impreso");
    QTest::newRow("más de 64 MiB") << http << QString()
                                   << QStringLiteral("p.enviarCsv(new Blob([new Uint8Array(50 * 1048576)]), "
                                                     "'enorme.csv')")
                                   << fallo(QStringLiteral("demasiado-grande"),
                                            QStringLiteral("El documento es demasiado grande para el Plugin Tornavo "
                                                           "(admite unos 45 MB)."))
                                   << QString();
    QTest::newRow("impresora desconocida")
        << http << QString() << QStringLiteral("p.imprimirPdf('%pdf%', { impresora: 'Cocina-Ñandú' })")
        << fallo(QStringLiteral("agente"), QStringLiteral("Impresora no encontrada: Cocina-Ñandú"))
        << QStringLiteral("nada impreso");
    QTest::newRow("PDF elegido y luego borrado")
        << http << QString() << QStringLiteral("p.imprimirPdf(document.getElementById('pdf').files[0])")
        << fallo(QStringLiteral("documento-ilegible"),
                 QStringLiteral("No se pudo leer el documento: el archivo cambió o ya no está donde se eligió. "
                                "Elíjalo de nuevo."))
        << QStringLiteral("borrado, nada impreso");
    QTest::newRow("nombre de CSV inválido")
        << http << QString() << QStringLiteral("p.enviarCsv('%csv%', '../fuera.csv')")
        << fallo(QStringLiteral("agente"), QStringLiteral("Nombre de archivo inválido")) << QString();
    QTest::newRow("balanza callada") << http << QStringLiteral("falla silencio")
                                     << QStringLiteral("new PluginTornavo({ url: '%agente%', tiempoMs: 300 }).peso()")
                                     << fallo(QStringLiteral("tiempo-agotado"),
                                              QStringLiteral("El Plugin Tornavo no respondió en 300 ms."))
                                     << QStringLiteral("abandonada");
    // The job's number in the message stands as N.
    QTest::newRow("trabajo que no termina")
        << http << QString()
        << QStringLiteral("(async (r) => p.esperarTrabajo(r.trabajo, { hastaMs: 1500 }).catch((e) => { e.message = "
                          "e.message.replace(`trabajo ${r.trabajo} `, 'trabajo N '); throw e; }))("
                          "await p.imprimirRaw(new Uint8Array([27, 64, 10]), { impresora: 'Caja' }))")
        << fallo(QStringLiteral("tiempo-agotado"),
                 QStringLiteral("El trabajo N no terminó en 1500 ms (estado: en cola)."))
        << QStringLiteral("Caja detenida");
    QTest::newRow("trabajo desconocido") << http << QString() << QStringLiteral("p.trabajo('987654')")
                                         << fallo(QStringLiteral("agente"),
                                                  QStringLiteral("Trabajo no encontrado: 987654"))
                                         << QString();
    const QString callada = fallo(
        QStringLiteral("balanza"),
        QStringLiteral("La balanza no respondió: compruebe que esté encendida y conectada al puerto configurado."));
    QTest::newRow("lectura de balanza callada")
        << http << QStringLiteral("falla silencio") << QStringLiteral("p.balanza()") << callada << QString();
    // /pesoBalanza answers 0.000 for it, as for an empty scale.
    QTest::newRow("peso de balanza callada")
        << http << QStringLiteral("falla silencio") << QStringLiteral("p.peso()") << callada << QString();
    QTest::newRow("escuchar balanza callada")
        << http << QStringLiteral("falla silencio")
        << QStringLiteral("await new Promise((bien, mal) => { const parar = p.escucharBalanza(() => {}, "
                          "(e) => { parar(); mal(e); }); })")
        << callada << QString();
    QTest::newRow("peso ilegible") << http << QStringLiteral("falla basura") << QStringLiteral("p.peso()")
                                   << fallo(QStringLiteral("balanza"),
                                            QStringLiteral("La balanza respondió, pero su respuesta no se pudo leer: "
                                                           "compruebe su protocolo en la configuración."))
                                   << QString();
}

void TstNavegador::modulo()
{
    QFETCH(QString, pagina);
    QFETCH(QString, balanza);
    QFETCH(QString, llamada);
    QFETCH(QString, esperado);
    QFETCH(QString, efecto);
    const bool detenida = efecto == QLatin1String("Caja detenida");
    if (!m_sinCups.isEmpty() && (efecto.contains(QLatin1String("impreso")) || efecto == QLatin1String("cups") ||
                                 efecto.startsWith(QLatin1String("crudo:")) || detenida)) {
        QSKIP(qPrintable(m_sinCups));
    }
    const int ultimoTrabajo = detenida ? m_cups.UltimoTrabajo() : 0;
    if (detenida) {
        QVERIFY2(m_cups.Deshabilitar(QStringLiteral("Caja")), qPrintable(m_cups.UltimoError()));
    }
    // The queue works again for the rows after, without the jobs left waiting in it.
    const auto reanudar = qScopeGuard([&] {
        if (detenida) {
            for (int id = ultimoTrabajo + 1; id <= m_cups.UltimoTrabajo(); ++id) {
                m_cups.Cancelar(id);
            }
            m_cups.Habilitar(QStringLiteral("Caja"));
        }
    });
    QVERIFY(OrdenBalanza(QStringLiteral("falla ninguna")));
    if (!balanza.isEmpty()) {
        QVERIFY(OrdenBalanza(balanza));
    }
    const QByteArray pdf = PdfDePrueba("Modulo " + QByteArray(QTest::currentDataTag()).toPercentEncoding());
    const QByteArray csv = QStringLiteral("código;descripción;precio\r\n1;Jamón ibérico;12,50\r\n").toUtf8();
    const QString ajena = QStringLiteral("http://%1:%2").arg(kTiendaAjena).arg(m_http.Puerto());
    const QString agente = QStringLiteral("http://localhost:%1").arg(m_agente.Puerto());
    const auto poner = [&](QString texto) {
        return texto.replace(QLatin1String("%agente%"), agente)
            .replace(QLatin1String("%puerto%"), QString::number(m_agente.Puerto()))
            .replace(QLatin1String("%ajena%"), ajena)
            .replace(QLatin1String("%dispositivo%"), m_dispositivo)
            .replace(QLatin1String("%pdf%"), QString::fromLatin1(pdf.toBase64()))
            .replace(QLatin1String("%csv%"), QString::fromLatin1(csv.toBase64()));
    };
    // One port for both, so that the message names the address called.
    const QString libre = QString::number(soporte::PuertoLibre());
    llamada.replace(QLatin1String("%libre%"), libre);
    esperado.replace(QLatin1String("%libre%"), libre);

    QString error;
    const QUrl url = pagina == QLatin1String("https") ? UrlBanco(pagina, kAplicacion, m_https.Puerto())
                     : pagina == QLatin1String("ajena")
                         ? UrlBanco(QStringLiteral("http"), kTiendaAjena, m_http.Puerto())
                         : UrlBanco(pagina, kAplicacion, m_http.Puerto());
    QVERIFY2(AbrirBanco(m_navegador, url, error), qPrintable(error));
    QString archivo;
    if (efecto.startsWith(QLatin1String("csv:"))) {
        archivo = QDir(m_datos.filePath(QStringLiteral("csv"))).filePath(efecto.mid(4));
        QFile::remove(archivo);
    }
    if (efecto.startsWith(QLatin1String("borrado"))) {
        const QString elegido = m_datos.filePath(QStringLiteral("elegido.pdf"));
        QVERIFY(soporte::EscribirArchivo(elegido, pdf));
        QVERIFY2(m_navegador.ElegirArchivo(QStringLiteral("document.getElementById('pdf')"), elegido, &error),
                 qPrintable(error));
        // Chosen as a page shows it, its size read; then gone from the disk.
        QCOMPARE(m_navegador.Evaluar(QStringLiteral("document.getElementById('pdf').files[0].size")).toInt(),
                 pdf.size());
        QVERIFY(QFile::remove(elegido));
    }
    const int documentos = m_sinCups.isEmpty() ? int(m_cups.Documentos().size()) : 0;
    const QString abandono = QStringLiteral("? Error: El cliente cerró la conexión antes de recibir la respuesta.");
    const int abandonos = Contar(m_agente.LineasLog(), abandono);
    const int lineas = int(m_agente.LineasLog().size());

    const QJsonObject r = Ejecutar(
        m_navegador,
        poner(QStringLiteral("(async () => { const p = new PluginTornavo({ url: '%agente%' }); "
                             "try { return { valor: (await (async () => (%1))()) ?? null }; } "
                             "catch (e) { return e instanceof ErrorPlugin ? { codigo: e.codigo, mensaje: e.message } "
                             ": { excepcion: String(e) }; } })()")
                  .arg(llamada)),
        error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(r, QJsonDocument::fromJson(poner(esperado).toUtf8()).object());

    if (!archivo.isEmpty()) {
        QCOMPARE(soporte::LeerArchivo(archivo), csv);
    } else if (efecto == QLatin1String("impreso")) {
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.Documentos().size()), documentos + 1, 60000);
        QCOMPARE(soporte::LeerArchivo(m_cups.Documentos().constLast()), pdf);
    } else if (efecto.startsWith(QLatin1String("crudo:"))) {
        // The spooler got exactly these bytes and finished the job.
        QTRY_COMPARE_WITH_TIMEOUT(int(m_cups.Documentos().size()), documentos + 1, 60000);
        QCOMPARE(soporte::LeerArchivo(m_cups.Documentos().constLast()).toHex(), efecto.mid(6).toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(m_cups.Trabajos().constLast().estado, QStringLiteral("completed"), 60000);
    } else if (efecto == QLatin1String("un flujo")) {
        // While both tabs listened the agent served one stream; after the mark, the one that took over.
        const QStringList nuevas = m_agente.LineasLog().mid(lineas);
        const auto marca = std::find_if(nuevas.cbegin(), nuevas.cend(), [](const QString& linea) {
            return linea.contains(QLatin1String("Solicitud recibida: GET /status"));
        });
        QVERIFY(marca != nuevas.cend());
        const QString abierto = QStringLiteral("Flujo de la balanza abierto");
        QCOMPARE(Contar(nuevas.mid(0, marca - nuevas.cbegin()), abierto), 1);
        QCOMPARE(Contar(nuevas.mid(marca - nuevas.cbegin()), abierto), 1);
    } else if (detenida) {
        // Still waiting when the page gave up on it: a timeout for real, not a job lost.
        QCOMPARE(m_cups.UltimoTrabajo(), ultimoTrabajo + 1);
        QCOMPARE(m_cups.Trabajos().constLast().estado, QStringLiteral("pending"));
    } else if (efecto.endsWith(QLatin1String("nada impreso"))) {
        QCOMPARE(int(m_cups.Documentos().size()), documentos);
    } else if (efecto == QLatin1String("abandonada")) {
        // The page gave up, so the reading's answer had nobody to go to: expected, not a fault of the agent.
        QTRY_COMPARE_WITH_TIMEOUT(Contar(m_agente.LineasLog(), abandono), abandonos + 1, 15000);
        m_erroresEsperados << abandono;
    }
}

void TstNavegador::documentoGrande_data()
{
    QTest::addColumn<QString>("documento"); // JavaScript making it of `bytes`
    QTest::newRow("Blob") << QStringLiteral("new Blob([bytes], { type: 'application/pdf' })");
    QTest::newRow("Uint8Array") << QStringLiteral("bytes");
    // Its byte stream never answers: read by slices instead, as where a browser has no byte streams.
    QTest::newRow("Blob cuyo flujo no responde") << QStringLiteral(
        "new (class extends Blob { stream() { return new ReadableStream({ type: 'bytes' }); } })([bytes])");
}

void TstNavegador::documentoGrande()
{
    QFETCH(QString, documento);
    // A 40 MB document goes whole, through Base64 made a piece at a time; how long the page stops meanwhile is
    // reported, not judged (the browser's long tasks while the Base64 is made and while it is sent, the longest gap
    // between two turns of a message loop, and the machine's load, which lengthens them all).
    const int tamano = 40 * 1024 * 1024;
    QString error;
    QVERIFY2(AbrirBanco(m_navegador, UrlBanco(QStringLiteral("http"), kAplicacion, m_http.Puerto()), error),
             qPrintable(error));
    const QString nombre = QStringLiteral("grande.pdf");
    const QString archivo = QDir(m_datos.filePath(QStringLiteral("csv"))).filePath(nombre);
    QFile::remove(archivo);
    const QJsonObject r =
        Ejecutar(m_navegador,
                 QStringLiteral(
                     "(async () => { const n = %1; const bytes = new Uint8Array(n);"
                     " for (let i = 0; i < n; i++) bytes[i] = (i * 7 + (i >>> 12)) & 255;"
                     " const documento = %4;"
                     " await new Promise((listo) => setTimeout(listo, 100));"
                     " const largas = []; const observador = new PerformanceObserver((l) => largas.push("
                     "   ...l.getEntries().map((e) => [e.startTime + e.duration, e.duration])));"
                     " observador.observe({ type: 'longtask' });"
                     " let hueco = 0, sobre = 0, antes = performance.now(), latiendo = true;"
                     " const canal = new MessageChannel();"
                     " canal.port1.onmessage = () => { const t = performance.now(); hueco = Math.max(hueco, t - antes);"
                     "   sobre += t - antes > 1000 / 30;"
                     "   antes = t; if (latiendo) canal.port2.postMessage(0); }; canal.port2.postMessage(0);"
                     // The body is ready, its Base64 made, when the module hands it to fetch.
                     " let listo = 0; const fetchPropio = window.fetch; window.fetch = (...a) => {"
                     "   listo = performance.now(); return fetchPropio(...a); };"
                     " const inicio = performance.now();"
                     " const r = await new PluginTornavo({ url: %2 }).enviarCsv(documento, %3);"
                     " const ms = performance.now() - inicio; latiendo = false; window.fetch = fetchPropio;"
                     " await new Promise((listo) => setTimeout(listo, 100)); observador.disconnect();"
                     " const antesDe = largas.filter(([fin]) => fin <= listo).map(([, d]) => d);"
                     " const despues = largas.filter(([fin]) => fin > listo).map(([, d]) => d);"
                     " return { mensaje: r.mensaje, ms, base64: listo - inicio, hueco, sobre, largas: antesDe.length,"
                     "   masLarga: Math.max(0, ...antesDe), largasEnvio: despues.length, masLargaEnvio: Math.max(0, "
                     "...despues) };"
                     " })()")
                     .arg(tamano)
                     .arg(Js(QStringLiteral("http://localhost:%1").arg(m_agente.Puerto())), Js(nombre), documento),
                 error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(r.value(QLatin1String("mensaje")).toString(), QStringLiteral("CSV recibido y ejecutado"));
    const auto n = [&r](const char* clave) { return r.value(QLatin1String(clave)).toDouble(); };
    qInfo(
        "40 MB: %.0f ms en total, el Base64 listo en %.0f ms; tareas largas mientras se codificaba: %.0f, la mayor de "
        "%.1f ms; durante el envío: %.0f, la mayor de %.1f ms; el mayor hueco entre dos turnos, %.1f ms, y %.0f de "
        "más de dos fotogramas; carga: %s",
        n("ms"), n("base64"), n("largas"), n("masLarga"), n("largasEnvio"), n("masLargaEnvio"), n("hueco"), n("sobre"),
        soporte::LeerArchivo(QStringLiteral("/proc/loadavg")).left(14).constData());

    QByteArray esperado(tamano, Qt::Uninitialized);
    for (int i = 0; i < tamano; ++i) {
        esperado[i] = char((i * 7 + (i >> 12)) & 255);
    }
    const QByteArray guardado = soporte::LeerArchivo(archivo);
    QCOMPARE(guardado.size(), esperado.size());
    QVERIFY(guardado == esperado);
    QFile::remove(archivo);
}

void TstNavegador::unaSolaFamilia_data()
{
    QTest::addColumn<QString>("direccion");
    QTest::newRow("solo IPv6") << QStringLiteral("::1");
    QTest::newRow("solo IPv4") << QStringLiteral("127.0.0.1");
}

void TstNavegador::unaSolaFamilia()
{
    // "localhost" in the page reaches an agent that listens on one address family only.
    QFETCH(QString, direccion);
    QTemporaryDir carpeta;
    QVERIFY(carpeta.isValid());
    const quint16 puerto = soporte::PuertoLibre();
    const QString programa = carpeta.filePath(QStringLiteral("plugin-tornavo"));
    QVERIFY(QFile::copy(QDir(soporte::CarpetaBinarios()).filePath(QStringLiteral("plugin-tornavo")), programa));
    QVERIFY(soporte::EscribirArchivo(carpeta.filePath(QStringLiteral("config.ini")),
                                     QStringLiteral("[Configuracion]\r\nPuertoHTTP=%1\r\nDireccionEscucha=%2\r\n"
                                                    "DispositivoBalanza=%3/no-hay-balanza\r\n")
                                         .arg(puerto)
                                         .arg(direccion, carpeta.path())
                                         .toUtf8()));
    QProcess agente;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("XDG_RUNTIME_DIR"), carpeta.path());
    entorno.insert(QStringLiteral("CUPS_SERVER"), carpeta.filePath(QStringLiteral("sin-cups.sock")));
    agente.setProcessEnvironment(entorno);
    agente.setWorkingDirectory(carpeta.path());
    agente.setChildProcessModifier(MorirConElPadre);
    agente.start(programa, {});
    QVERIFY2(agente.waitForStarted(15000), qPrintable(agente.errorString()));
    QVERIFY2(soporte::EsperarEscucha(agente, puerto, 15000, QHostAddress(direccion)),
             agente.readAllStandardError().constData());

    QString error;
    QVERIFY2(AbrirBanco(m_navegador,
                        QUrl(QStringLiteral("http://%1:%2/banco-de-pruebas.html?agente=http://localhost:%3")
                                 .arg(kAplicacion)
                                 .arg(m_http.Puerto())
                                 .arg(puerto)),
                        error),
             qPrintable(error));
    const QJsonObject r = Ejecutar(m_navegador, QStringLiteral("Banco.consultarEstado()"), error);
    // Its scale is absent: the module says so, with the system's reason.
    const QJsonValue sinBalanza = m_navegador.Evaluar(
        QStringLiteral("Banco.plugin().peso().then(() => 'pesó', (e) => [e.codigo, e.respuesta.estado, e.message])"));
    soporte::DetenerProceso(agente);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(r.value(QLatin1String("ok")).toBool(), qPrintable(r.value(QLatin1String("error")).toString()));
    QCOMPARE(r.value(QLatin1String("json")).toObject().value(QLatin1String("puerto")).toString(),
             QString::number(puerto));
    QCOMPARE(sinBalanza.toArray().at(0).toString(), QStringLiteral("balanza"));
    QCOMPARE(sinBalanza.toArray().at(1).toString(), QStringLiteral("error"));
    QCOMPARE(
        sinBalanza.toArray().at(2).toString(),
        QStringLiteral("El Plugin Tornavo no pudo usar el puerto de la balanza: compruebe que esté conectada y que "
                       "el puerto configurado sea el suyo. (No such file or directory (%1/no-hay-balanza))")
            .arg(carpeta.path()));
}

void TstNavegador::registroSinErrores()
{
    // Whatever the browser sent above, the agent understood it: no request ended in its error path.
    const QStringList lineas = m_agente.LineasLog();
    if (lineas.filter(QStringLiteral("Solicitud recibida: ")).isEmpty()) {
        QSKIP("nada que revisar: esta prueba lee el registro que dejan las anteriores");
    }
    QStringList errores = lineas.filter(QStringLiteral("] ? Error"));
    for (const QString& esperado : std::as_const(m_erroresEsperados)) {
        const auto causado = std::find_if(errores.cbegin(), errores.cend(),
                                          [&esperado](const QString& linea) { return linea.endsWith(esperado); });
        if (causado != errores.cend()) {
            errores.removeAt(causado - errores.cbegin());
        }
    }
    QVERIFY2(errores.isEmpty(), qPrintable(errores.join(u'\n')));
}

QTEST_GUILESS_MAIN(TstNavegador)
#include "tst_navegador.moc"
