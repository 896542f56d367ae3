// The printer catalogue, the two ways of printing a PDF and the print endpoint, with fake printers, a fake spooler
// and a fake launcher.
#include "support/bitacora.h"
#include "support/cuerpos.h"
#include "support/lanzador_falso.h"
#include "support/programa_sustituto.h"
#include "support/soporte.h"

#include "base/lanzador.h"
#include "base/texto.h"
#include "printing/alimentador.h"
#include "printing/impresion.h"
#include "printing/lista_impresoras.h"
#include "printing/spooler.h"
#include "printing/trabajos.h"
#include "printing/visor_cups.h"
#include "printing/visor_sumatra.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using soporte::Bitacora;
using soporte::CrearProgramaSustituto;
using soporte::CuerpoImpresion;
using soporte::Fila;
using soporte::LanzadorFalso;
using soporte::LlamadaRegistrada;
using soporte::UnicaRespuesta;

namespace {

class ListaFija final : public ListaImpresoras
{
public:
    QStringList nombres;
    mutable int lecturas = 0;
    QStringList Nombres() const override
    {
        ++lecturas;
        return nombres;
    }
};

// A spooler that answers as told and counts what it is asked.
class SpoolerFalso final : public Spooler
{
public:
    DetalleImpresora caja{QStringLiteral("Caja"),
                          QStringLiteral("lista"),
                          QString(),
                          {QStringLiteral("A4"), QStringLiteral("Letter")},
                          {QStringLiteral("Auto")},
                          true,
                          false};
    struct Documento
    {
        QString cola;
        QString nombre;
        QStringList atributos;
        QByteArray datos;
    };
    QString predeterminada = QStringLiteral("Caja");
    QString encontrado; // what BuscarPorDocumento finds
    InfoTrabajo info{EstadoTrabajo::EnCola, QStringLiteral("media-empty")};
    QString rechazo; // a job cannot begin, for this reason, when not empty
    qsizetype falloEnByte = -1;
    QString rechazoAlTerminar; // the answer to a whole job, when not empty
    bool diferir = false;      // the answers wait in `pendientes`
    QList<EnvioDirecto::AlTerminar> pendientes;
    mutable int consultas = 0;
    mutable QStringList documentosBuscados;
    QByteArray recibido;         // raw jobs
    QList<Documento> documentos; // PDF jobs

    bool contener = false; // the spooler takes a piece only when `alPoder` is called
    std::function<void()> alPoder;

    bool diferirConsultas = false; // the job states wait in `consultasPendientes`
    QList<AlSaberTrabajo> consultasPendientes;

    void Predeterminada(AlSaberPredeterminada alSaber) override { alSaber(predeterminada); }
    void Detalle(const QString& impresora, AlSaberDetalle alSaber) override
    {
        alSaber(impresora == caja.nombre ? std::optional(caja) : std::nullopt);
    }
    std::unique_ptr<EnvioDirecto> AbrirDirecto(const QString&, const QString&, QString& motivo) override
    {
        return Abrir(-1, motivo);
    }
    std::unique_ptr<EnvioDirecto> AbrirPDF(const QString& impresora, const QString& nombreTrabajo,
                                           const QStringList& atributos, QString& motivo) override
    {
        if (rechazo.isEmpty()) {
            documentos.append({impresora, nombreTrabajo, atributos, QByteArray()});
        }
        return Abrir(documentos.size() - 1, motivo);
    }
    // A job whose bytes go to documentos[indice], or to `recibido` for -1.
    std::unique_ptr<EnvioDirecto> Abrir(qsizetype indice, QString& motivo)
    {
        if (!rechazo.isEmpty()) {
            motivo = rechazo;
            return nullptr;
        }
        struct Envio final : EnvioDirecto
        {
            SpoolerFalso& s;
            qsizetype indice;
            Envio(SpoolerFalso& spooler, qsizetype i)
                : s(spooler)
                , indice(i)
            {
            }
            bool Escribir(QByteArrayView trozo, QString& motivo) override
            {
                QByteArray& destino = indice < 0 ? s.recibido : s.documentos[indice].datos;
                if (s.falloEnByte >= 0 && destino.size() + trozo.size() > s.falloEnByte) {
                    motivo = QStringLiteral("Printer is offline");
                    return false;
                }
                destino += trozo.toByteArray();
                return true;
            }
            void CuandoPuedaSeguir(std::function<void()> seguir) override
            {
                if (s.contener) {
                    s.alPoder = std::move(seguir);
                } else {
                    seguir();
                }
            }
            void Terminar(AlTerminar alTerminar) override
            {
                if (s.diferir) {
                    s.pendientes << alTerminar;
                } else if (!s.rechazoAlTerminar.isEmpty()) {
                    alTerminar(QString(), s.rechazoAlTerminar);
                } else {
                    alTerminar(QStringLiteral("77"), QString());
                }
            }
        };
        return std::make_unique<Envio>(*this, indice);
    }
    void Consultar(const QString&, const QString&, AlSaberTrabajo alSaber) override
    {
        ++consultas;
        if (diferirConsultas) {
            consultasPendientes << alSaber;
        } else {
            alSaber(info);
        }
    }
    QString BuscarPorDocumento(const QString&, const QString& documento) const override
    {
        documentosBuscados << documento;
        return encontrado;
    }
};

// `texto` escaped as inside a JSON string, for the characters the tests' names hold.
QString EnJson(QString texto)
{
    return texto.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'"', QStringLiteral("\\\""))
        .replace(u'\r', QStringLiteral("\\r"))
        .replace(u'\n', QStringLiteral("\\n"))
        .replace(QChar(0x1b), QStringLiteral("\\u001b"));
}

QString ExitoCaja(int trabajo)
{
    return QStringLiteral("{\"success\":true,\"impresora\":\"Caja\",\"trabajo\":\"%1\"}").arg(trabajo);
}

} // namespace

class TstImpresion final : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void Catalogo_data();
    void Catalogo();
    void ExisteImpresora_data();
    void ExisteImpresora();

    void FormasDeSumatra_data();
    void FormasDeSumatra();
    void SumatraAusente();
    void SumatraNoArranca();
    void SumatraReal();

    void FormasDeCups_data();
    void FormasDeCups();
    void CupsRechaza_data();
    void CupsRechaza();

    void JsonInvalido_data();
    void JsonInvalido();
    void ImpresoraDesconocida_data();
    void ImpresoraDesconocida();
    void ImpresoraAceptada_data();
    void ImpresoraAceptada();
    void Base64InvalidoNoTocaElPdfAnterior();
    void PdfEnDiscoLleno_data();
    void PdfEnDiscoLleno();
    void SinCupsNoSeImprime();
    void RespondeCuandoCupsAcepta();
    void DosImpresionesSeguidasLlevanSuPropioDocumento();
    void ArchivosDeImpresionRetirados();

    void OpcionesValidas_data();
    void OpcionesValidas();
    void OpcionInvalida_data();
    void OpcionInvalida();
    void ImpresionDirecta_data();
    void ImpresionDirecta();
    void DirectaAlPasoDelSpooler();
    void TrabajoBuscadoPorSuDocumento();
    void UnaConsultaPorMedioSegundo();
    void TablaLimitada();
    void DetalleDeImpresoras();

private:
    SpoolerFalso* m_spooler = nullptr;
    void ConSpooler(std::unique_ptr<VisorPDF> visor = nullptr);
    // ConSpooler() printing through SumatraPDF, an empty file where the agent looks for it; false if none was made.
    bool ConSumatra();

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_pdf;
    ListaFija m_lista;
    // The spooler the PDF viewer hands its jobs to; its default printer is "Defecto".
    std::unique_ptr<SpoolerFalso> m_colas;
    std::unique_ptr<VisorPDF> Cups() { return std::make_unique<VisorCups>(*m_colas, m_lista); }
    std::unique_ptr<LanzadorFalso> m_lanzador;
    std::unique_ptr<Impresion> m_impresion;
    qint64 m_ahora = 0;

    QString Visor() const { return m_tmp->filePath(QStringLiteral("SumatraPDF-3.5.2-32.exe")); }
    // POST /print-base64, GET /trabajos/<id> and GET /impresoras/detalle, answered before they return.
    QString Imprimir(const QByteArray& cuerpo)
    {
        return UnicaRespuesta([&](Responder r) { m_impresion->Imprimir(cuerpo, nullptr, std::move(r)); });
    }
    QString Imprimir(const QString& cuerpo) { return Imprimir(cuerpo.toUtf8()); }
    QString Trabajo(const QString& id)
    {
        return UnicaRespuesta([&](Responder r) { m_impresion->ConsultarTrabajo(id, std::move(r)); });
    }
    QString Detalle()
    {
        return UnicaRespuesta([&](Responder r) { m_impresion->DetalleImpresoras(std::move(r)); });
    }
    // POST /print-raw, answered once the spooler has taken the bytes.
    QString Directo(const QByteArray& cuerpo)
    {
        return UnicaRespuesta([&](Responder r) { m_impresion->ImprimirDirecto(cuerpo, std::move(r)); }, 10000);
    }
};

void TstImpresion::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    // The first print's file, as the agent logs it.
    m_pdf = QDir::toNativeSeparators(m_tmp->filePath(QStringLiteral("archivo_recibido_1.pdf")));
    m_lista.nombres = QStringList{"Caja"};
    m_lista.lecturas = 0;
    m_impresion.reset();
    m_lanzador = std::make_unique<LanzadorFalso>();
    m_colas = std::make_unique<SpoolerFalso>();
    m_colas->predeterminada = QStringLiteral("Defecto");
    m_ahora = 0;
    m_impresion = std::make_unique<Impresion>(m_tmp->path(), m_lista, Cups(), [this] { return m_ahora; });
}

void TstImpresion::Catalogo_data()
{
    QTest::addColumn<QStringList>("nombres");
    QTest::addColumn<QString>("documento");
    QTest::newRow("ninguna") << QStringList() << "{\"impresoras\":[\"PREDETERMINADA\"]}";
    QTest::newRow("dos") << QStringList{"Caja", "Etiquetas"}
                         << "{\"impresoras\":[\"PREDETERMINADA\",\"Caja\",\"Etiquetas\"]}";
    QTest::newRow("varias, en su orden") << QStringList{"Zebra", QString::fromUtf8("Impresión"), "Caja",
                                                        "PREDETERMINADA"}
                                         << QString::fromUtf8("{\"impresoras\":[\"PREDETERMINADA\",\"Zebra\","
                                                              "\"Impresión\",\"Caja\",\"PREDETERMINADA\"]}");
    QTest::newRow("comilla") << QStringList{"Co\"mi"} << "{\"impresoras\":[\"PREDETERMINADA\",\"Co\\\"mi\"]}";
    QTest::newRow("impresora de red") << QStringList{"\\\\servidor\\Caja"}
                                      << "{\"impresoras\":[\"PREDETERMINADA\",\"\\\\\\\\servidor\\\\Caja\"]}";
    QTest::newRow("control") << QStringList{"a\tb\x01"} << "{\"impresoras\":[\"PREDETERMINADA\",\"a\\tb\\u0001\"]}";
}

void TstImpresion::Catalogo()
{
    QFETCH(QStringList, nombres);
    QFETCH(QString, documento);
    m_lista.nombres = nombres;
    const QString texto = m_impresion->ListarImpresoras();
    QCOMPARE(texto, documento);
    QCOMPARE(m_lista.lecturas, 1);
    QCOMPARE(m_impresion->ListarImpresoras(), documento);
    QCOMPARE(m_lista.lecturas, 2); // read afresh, never cached

    // Whatever the names hold, the document stays JSON and gives them back.
    const QJsonDocument json = QJsonDocument::fromJson(texto.toUtf8());
    QVERIFY(json.isObject());
    QCOMPARE(json.object().keys(), QStringList{"impresoras"});
    QCOMPARE(json.object().value(QStringLiteral("impresoras")).toVariant().toStringList(),
             QStringList{"PREDETERMINADA"} + nombres);
}

void TstImpresion::ExisteImpresora_data()
{
    QTest::addColumn<QStringList>("instaladas");
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<bool>("existe");
    const QStringList caja{"Etiquetas", "Caja"};
    QTest::newRow("igual") << caja << "Caja" << true;
    QTest::newRow("minúsculas") << caja << "caja" << true;
    QTest::newRow("mayúsculas") << caja << "CAJA" << true;
    QTest::newRow("espacios alrededor") << caja << "  Caja   " << true;
    QTest::newRow("acento en otro caso") << QStringList{QString::fromUtf8("Impresión")}
                                         << QString::fromUtf8("IMPRESIÓN") << true;
    QTest::newRow("espacios en el nombre instalado") << QStringList{" Caja "} << "caja" << true;
    QTest::newRow("más largo") << caja << "Caja2" << false;
    QTest::newRow("prefijo") << caja << "Caj" << false;
    QTest::newRow("tabulador") << caja << "\tCaja" << false;
    QTest::newRow("espacio dentro") << caja << "Ca ja" << false;
    QTest::newRow("comodín") << caja << "Caj*" << false;
    QTest::newRow("palabra clave sin impresora") << caja << "PREDETERMINADA" << false;
    QTest::newRow("palabra clave instalada") << QStringList{"Predeterminada"} << "PREDETERMINADA" << true;
    QTest::newRow("sin impresoras") << QStringList() << "Caja" << false;
}

void TstImpresion::ExisteImpresora()
{
    QFETCH(QStringList, instaladas);
    QFETCH(QString, nombre);
    QFETCH(bool, existe);
    m_lista.nombres = instaladas;
    QCOMPARE(ExisteImpresoraEn(m_lista.Nombres(), nombre), existe);
}

void TstImpresion::FormasDeSumatra_data()
{
    QTest::addColumn<QString>("impresora");
    QTest::addColumn<bool>("predeterminada");
    QTest::newRow("palabra clave") << "PREDETERMINADA" << true;
    QTest::newRow("minúsculas con espacios") << "  predeterminada " << true;
    QTest::newRow("impresora llamada como la palabra") << "Predeterminada" << true;
    QTest::newRow("nombrada") << "Caja" << false;
    QTest::newRow("nombrada con espacios") << " Caja  " << false;
    QTest::newRow("parecida a la palabra") << "PREDETERMINADA2" << false;
    QTest::newRow("tabulador antes de la palabra") << "\tPREDETERMINADA" << false;
}

void TstImpresion::FormasDeSumatra()
{
    QFETCH(QString, impresora);
    QFETCH(bool, predeterminada);
    const QString visor = Visor();
    QVERIFY(QFile(visor).open(QIODevice::WriteOnly));
    Bitacora bitacora;
    VisorSumatra sumatra(m_tmp->path(), *m_lanzador);
    QList<bool> inicios;
    sumatra.ImprimirPDF(m_pdf, impresora, QByteArray("%PDF"), [&](bool i) { inicios << i; });
    QCOMPARE(inicios, QList<bool>{true});

    const QString pdf = QDir::toNativeSeparators(m_pdf);
    const QString linea = predeterminada
                              ? QStringLiteral("\"%1\" -print-to-default -silent -print-settings \"fit\" \"%2\"")
                                    .arg(QDir::toNativeSeparators(visor), pdf)
                              : QStringLiteral("\"%1\" -print-to \"%3\" -print-settings \"fit\" -silent \"%2\"")
                                    .arg(QDir::toNativeSeparators(visor), pdf, impresora);
    const QStringList argumentos = predeterminada
                                       ? QStringList{"-print-to-default", "-silent", "-print-settings", "fit", pdf}
                                       : QStringList{"-print-to", impresora, "-print-settings", "fit", "-silent", pdf};
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Impresión enviada con comando: " + linea});
    QCOMPARE(m_lanzador->llamadas.size(), 1);
    QCOMPARE(m_lanzador->llamadas[0].programa, visor);
    QCOMPARE(m_lanzador->llamadas[0].argumentos, argumentos);
    QVERIFY(m_lanzador->llamadas[0].desligado);
}

void TstImpresion::SumatraAusente()
{
    Bitacora bitacora;
    VisorSumatra sumatra(m_tmp->path(), *m_lanzador);
    for (const QString& impresora : {QStringLiteral("PREDETERMINADA"), QStringLiteral("Caja")}) {
        QList<bool> inicios;
        sumatra.ImprimirPDF(m_pdf, impresora, QByteArray("%PDF"), [&](bool i) { inicios << i; });
        QCOMPARE(inicios, QList<bool>{false});
    }
    const QString linea = "? No se encontró SumatraPDF.exe en: " + QDir::toNativeSeparators(Visor());
    QCOMPARE(bitacora.Mensajes(), (QStringList{linea, linea}));
    QVERIFY(m_lanzador->llamadas.isEmpty());
}

void TstImpresion::SumatraNoArranca()
{
    QVERIFY(QFile(Visor()).open(QIODevice::WriteOnly));
    m_lanzador->inicia = false;
    Bitacora bitacora;
    VisorSumatra sumatra(m_tmp->path(), *m_lanzador);
    QList<bool> inicios;
    sumatra.ImprimirPDF(m_pdf, QStringLiteral("Caja"), QByteArray("%PDF"), [&](bool i) { inicios << i; });
    QCOMPARE(inicios, QList<bool>{false});
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Error al intentar imprimir: " + QDir::toNativeSeparators(m_pdf)});
}

void TstImpresion::SumatraReal()
{
    // The real launcher hands the viewer exactly these arguments, spaces around the name kept.
    const QString visor = Visor();
    QVERIFY(CrearProgramaSustituto(visor));
    LanzadorQt lanzador;
    VisorSumatra sumatra(m_tmp->path(), lanzador);
    QList<bool> inicios;
    sumatra.ImprimirPDF(m_pdf, QStringLiteral(" Caja 2 "), QByteArray("%PDF"), [&](bool i) { inicios << i; });
    QCOMPARE(inicios, QList<bool>{true});
    QTRY_VERIFY_WITH_TIMEOUT(!LlamadaRegistrada(visor).isEmpty(), 10000);
    QCOMPARE(LlamadaRegistrada(visor).mid(0, 6), (QStringList{"arg:-print-to", "arg: Caja 2 ", "arg:-print-settings",
                                                              "arg:fit", "arg:-silent", "arg:" + m_pdf}));
}

void TstImpresion::FormasDeCups_data()
{
    QTest::addColumn<QString>("impresora");
    QTest::addColumn<QString>("cola");
    Fila("palabra clave", "PREDETERMINADA", "Defecto");
    Fila("minúsculas con espacios", "  predeterminada ", "Defecto");
    Fila("impresora llamada como la palabra", "Predeterminada", "Defecto");
    Fila("nombrada", "Caja", "Caja");
    Fila("espacios alrededor", "  Caja ", "Caja");
    Fila("otro caso", "cAJA", "Caja");
    Fila("acento en otro caso", " IMPRESIÓN", "Impresión");
    Fila("comilla simple", "co'mi$a", "Co'mi$a");
    Fila("no instalada", " Otra  ", "Otra");
    Fila("parece una opción", "-h", "-h");
}

void TstImpresion::FormasDeCups()
{
    QFETCH(QString, impresora);
    QFETCH(QString, cola);
    m_lista.nombres = QStringList{"Caja", QString::fromUtf8("Impresión"), "Co'mi$a"};
    Bitacora bitacora;
    VisorCups cups(*m_colas, m_lista);
    QList<bool> inicios;
    QStringList encolados;
    const QByteArray pdf("%PDF-1.4 contenido");
    cups.ImprimirPDF(
        m_pdf, impresora, pdf, OpcionesImpresion(), [&](bool i) { inicios << i; },
        [&](const QString& id, const QString& fallo) { encolados << id + u'|' + fallo; });
    QCOMPARE(inicios, QList<bool>{true});
    QCOMPARE(encolados, QStringList{"77|"});
    QCOMPARE(m_colas->documentos.size(), 1);
    QCOMPARE(m_colas->documentos[0].cola, cola);
    QCOMPARE(m_colas->documentos[0].nombre, QStringLiteral("archivo_recibido_1.pdf"));
    QCOMPARE(m_colas->documentos[0].atributos, QStringList{"fit-to-page"});
    QCOMPARE(m_colas->documentos[0].datos, pdf);
    QCOMPARE(bitacora.Mensajes(),
             QStringList{"? Impresión enviada a CUPS: cola " + cola + ", trabajo 77, fit-to-page"});
    QVERIFY(m_lanzador->llamadas.isEmpty());
}

void TstImpresion::CupsRechaza_data()
{
    QTest::addColumn<QString>("impresora");
    QTest::addColumn<QString>("motivo"); // as the log line ends
    Fila("no empieza", "Caja", "No such file or directory");
    Fila("cortado", "Caja", "Printer is offline");
    Fila("rechazado al final", "Caja", "The printer is not accepting jobs.");
    Fila("sin predeterminada", " predeterminada", "no hay impresora predeterminada");
}

void TstImpresion::CupsRechaza()
{
    QFETCH(QString, impresora);
    QFETCH(QString, motivo);
    const QByteArray caso = QTest::currentDataTag();
    if (caso == "no empieza") {
        m_colas->rechazo = QStringLiteral("No such file or directory");
    } else if (caso == "cortado") {
        m_colas->falloEnByte = 70000;
    } else if (caso == "rechazado al final") {
        m_colas->diferir = true;
    } else {
        m_colas->predeterminada.clear();
    }
    Bitacora bitacora;
    VisorCups cups(*m_colas, m_lista);
    QList<bool> inicios;
    QStringList encolados;
    // Larger than a piece: the second goes from the event loop.
    cups.ImprimirPDF(
        m_pdf, impresora, "%PDF" + QByteArray(100000, 'x'), OpcionesImpresion(), [&](bool i) { inicios << i; },
        [&](const QString& id, const QString& fallo) { encolados << id + u'|' + fallo; });
    QVERIFY(inicios.isEmpty() || caso == "no empieza" || caso == "sin predeterminada");
    if (caso == "rechazado al final") {
        QTRY_COMPARE(m_colas->pendientes.size(), 1);
        QCOMPARE(m_colas->documentos.value(0).datos.size(), 100004);
        QVERIFY(inicios.isEmpty());
        m_colas->pendientes[0](QString(), QStringLiteral("The printer is not accepting jobs."));
    }
    QTRY_COMPARE(inicios, QList<bool>{false});
    QCOMPARE(bitacora.Mensajes(), QStringList{"? CUPS no aceptó la impresión en " + impresora + ": " + motivo});
    QVERIFY(encolados.isEmpty());
}

void TstImpresion::JsonInvalido_data()
{
    soporte::FilasJsonInvalido(QStringLiteral("nombreImpresora"));
}

void TstImpresion::JsonInvalido()
{
    QFETCH(QString, cuerpo);
    Bitacora bitacora;
    QCOMPARE(Imprimir(cuerpo), QStringLiteral("{\"success\":false,\"error\":\"JSON inválido\"}"));
    QCOMPARE(bitacora.Mensajes(), QStringList{"? JSON inválido recibido en /print-base64"});
    QVERIFY(!QFileInfo::exists(m_pdf));
    QVERIFY(m_colas->documentos.isEmpty());
}

void TstImpresion::ImpresoraDesconocida_data()
{
    QTest::addColumn<QStringList>("instaladas");
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<QString>("enLog"); // the name as the log line shows it
    const QStringList caja{"Caja"};
    Fila("otra", caja, "Caja2", "Caja2");
    Fila("palabra en minúsculas", caja, "predeterminada", "predeterminada");
    Fila("palabra con espacios", QStringList(), " PREDETERMINADA", " PREDETERMINADA");
    Fila("vacío", QStringList{"Caja", "Etiquetas"}, "", "");
    Fila("comilla", caja, "Ca\"ja\\", "Ca\"ja\\");
    // A name must not write a line of its own into the log, nor megabytes into one.
    Fila("línea falsa", caja, "x\r\n[2026-12-08 10:00:00] Respuesta enviada: ok",
         "x\\u000d\\u000a[2026-12-08 10:00:00] Respuesta enviada: ok");
    Fila("escape de terminal", caja, "\x1b[2Jx\u2028y\xc2\x85", "\\u001b[2Jx\\u2028y\\u0085");
    Fila("larguísimo", caja, QString(100000, u'n'),
         QString(kLargoMaximoEnLog, u'n') + QStringLiteral("… (97952 caracteres más)"));
}

void TstImpresion::ImpresoraDesconocida()
{
    QFETCH(QStringList, instaladas);
    QFETCH(QString, nombre);
    QFETCH(QString, enLog);
    m_lista.nombres = instaladas;
    Bitacora bitacora;
    const QString respuesta = Imprimir(CuerpoImpresion("%PDF", nombre));
    QCOMPARE(respuesta, QStringLiteral("{\"success\":false,\"error\":\"Impresora no encontrada: %1\","
                                       "\"impresorasDisponibles\":%2}")
                            .arg(EnJson(nombre), CatalogoImpresoras(instaladas)));
    // The catalogue goes in as an object, not as a string.
    const QJsonObject json = QJsonDocument::fromJson(respuesta.toUtf8()).object();
    QCOMPARE(json.value(QStringLiteral("error")).toString(), "Impresora no encontrada: " + nombre);
    QVERIFY(json.value(QStringLiteral("impresorasDisponibles")).isObject());
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Impresora no encontrada: " + enLog});
    QVERIFY(!QFileInfo::exists(m_pdf));
    QVERIFY(m_colas->documentos.isEmpty());
    QCOMPARE(m_lista.lecturas, 1);
}

void TstImpresion::ImpresoraAceptada_data()
{
    QTest::addColumn<QStringList>("instaladas");
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<QString>("cola");
    Fila("palabra sin impresoras", QStringList(), "PREDETERMINADA", "Defecto");
    Fila("otro caso y espacios", QStringList{"Caja"}, " cAJA  ", "Caja");
    Fila("impresora llamada Predeterminada", QStringList{"Predeterminada"}, "Predeterminada", "Defecto");
    Fila("nombre escapado en la respuesta", QStringList{"\\\\srv\\Co\"mi"}, "\\\\srv\\co\"mi ", "\\\\srv\\Co\"mi");
}

void TstImpresion::ImpresoraAceptada()
{
    QFETCH(QStringList, instaladas);
    QFETCH(QString, nombre);
    QFETCH(QString, cola);
    m_lista.nombres = instaladas;
    Bitacora bitacora;
    const QByteArray pdf("%PDF-1.4 uno");
    const QString respuesta = Imprimir(CuerpoImpresion(pdf, nombre));
    QCOMPARE(respuesta,
             QStringLiteral("{\"success\":true,\"impresora\":\"%1\",\"trabajo\":\"1\"}").arg(EnJson(nombre)));
    QCOMPARE(QJsonDocument::fromJson(respuesta.toUtf8()).object().value(QStringLiteral("impresora")).toString(),
             nombre);
    QCOMPARE(m_colas->documentos.size(), 1);
    QCOMPARE(m_colas->documentos[0].cola, cola);
    QCOMPARE(m_colas->documentos[0].datos, pdf);
    QCOMPARE(soporte::LeerArchivo(m_pdf), pdf);
    QCOMPARE(bitacora.Mensajes().size(), 3);
    QCOMPARE(bitacora.Mensajes()[0], "PDF guardado: " + m_pdf);
    QCOMPARE(bitacora.Mensajes()[1], "? Impresión enviada a CUPS: cola " + cola + ", trabajo 77, fit-to-page");
    QCOMPARE(bitacora.Mensajes()[2], "?? Impreso en: " + nombre);
}

void TstImpresion::Base64InvalidoNoTocaElPdfAnterior()
{
    QFile anterior(m_pdf);
    QVERIFY(anterior.open(QIODevice::WriteOnly));
    anterior.write("%PDF anterior");
    anterior.close();
    Bitacora bitacora;
    for (const QString& base64 :
         {QStringLiteral("JVBERi0*"), QStringLiteral("data:application/pdf;base64,JVBE"), QString()}) {
        const QString cuerpo = QStringLiteral("{\"base64\":\"%1\",\"nombreImpresora\":\"Caja\"}").arg(base64);
        QCOMPARE(Imprimir(cuerpo), QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar PDF\"}"));
    }
    QCOMPARE(bitacora.Mensajes(), QStringList(3, QStringLiteral("? Error al guardar PDF")));
    QCOMPARE(soporte::LeerArchivo(m_pdf), QByteArray("%PDF anterior"));
    QVERIFY(m_colas->documentos.isEmpty());
}

void TstImpresion::PdfEnDiscoLleno_data()
{
    QTest::addColumn<qint64>("libres");
    QTest::addColumn<int>("largo");
    QTest::newRow("nothing free, small") << qint64(0) << 300;
    QTest::newRow("8 KiB free, 12 KB") << qint64(8192) << 12000;
    QTest::newRow("8 KiB free, 40 KB") << qint64(8192) << 40000;
}

void TstImpresion::PdfEnDiscoLleno()
{
    QFETCH(qint64, libres);
    QFETCH(int, largo);
    soporte::DiscoPequeno disco;
    if (!disco.Montado()) {
        QSKIP("mounting a small file system takes root");
    }
    m_impresion = std::make_unique<Impresion>(disco.Ruta(), m_lista, Cups(), [this] { return m_ahora; });
    // An earlier print's file, still being read by its viewer.
    const QString anterior = disco.Ruta() + QStringLiteral("/archivo_recibido_1.pdf");
    QVERIFY(soporte::EscribirArchivo(anterior, "%PDF anterior"));
    QVERIFY(disco.Llenar(libres));
    Bitacora bitacora;
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF" + QByteArray(largo, 'x'), QStringLiteral("Caja"))),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar PDF\"}"));
    QCOMPARE(soporte::LeerArchivo(anterior), QByteArray("%PDF anterior"));
    // Nothing half-written is left for a viewer to find.
    QCOMPARE(QDir(disco.Ruta()).entryList({QStringLiteral("archivo_recibido*")}, QDir::Files),
             QStringList{"archivo_recibido_1.pdf"});
    QVERIFY(m_colas->documentos.isEmpty());
    QCOMPARE(bitacora.Mensajes().size(), 2);
    QCOMPARE(bitacora.Mensajes()[1], QStringLiteral("? Error al guardar PDF"));
    m_impresion.reset();
}

void TstImpresion::SinCupsNoSeImprime()
{
    m_colas->rechazo = QStringLiteral("No such file or directory");
    Bitacora bitacora;
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF-1.4", QStringLiteral("Caja"))),
             QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}"));
    QCOMPARE(bitacora.Mensajes(),
             (QStringList{"PDF guardado: " + m_pdf, "? CUPS no aceptó la impresión en Caja: No such file or directory",
                          "? Error al imprimir en: Caja"}));
    QCOMPARE(soporte::LeerArchivo(m_pdf), QByteArray("%PDF-1.4"));
}

void TstImpresion::RespondeCuandoCupsAcepta()
{
    m_colas->diferir = true;
    Bitacora bitacora;
    QStringList respuestas;
    m_impresion->Imprimir(CuerpoImpresion("%PDF", QStringLiteral("Caja")), nullptr,
                          [&](const QString& r) { respuestas << r; });
    QVERIFY(respuestas.isEmpty());
    QCOMPARE(bitacora.Mensajes(), QStringList{"PDF guardado: " + m_pdf});
    m_colas->pendientes[0](QStringLiteral("77"), QString());
    QCOMPARE(respuestas, QStringList{ExitoCaja(1)});

    m_impresion->Imprimir(CuerpoImpresion("%PDF", QStringLiteral("Caja")), nullptr,
                          [&](const QString& r) { respuestas << r; });
    m_colas->pendientes[1](QString(), QStringLiteral("Printer is offline"));
    QCOMPARE(respuestas,
             (QStringList{ExitoCaja(1), QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}")}));
    QCOMPARE(bitacora.Mensajes().last(), QStringLiteral("? Error al imprimir en: Caja"));
}

void TstImpresion::DosImpresionesSeguidasLlevanSuPropioDocumento()
{
    m_colas->diferir = true;
    QStringList respuestas;
    m_impresion->Imprimir(CuerpoImpresion("%PDF primero", QStringLiteral("Caja")), nullptr,
                          [&](const QString& r) { respuestas << r; });
    m_impresion->Imprimir(CuerpoImpresion("%PDF segundo", QStringLiteral("Caja")), nullptr,
                          [&](const QString& r) { respuestas << r; });
    // Neither job is accepted yet: each file still holds its own document.
    QCOMPARE(soporte::LeerArchivo(m_pdf), QByteArray("%PDF primero"));
    QCOMPARE(soporte::LeerArchivo(m_tmp->filePath(QStringLiteral("archivo_recibido_2.pdf"))),
             QByteArray("%PDF segundo"));
    QCOMPARE(m_colas->documentos.size(), 2);
    QCOMPARE(m_colas->documentos[0].datos, QByteArray("%PDF primero"));
    QCOMPARE(m_colas->documentos[1].datos, QByteArray("%PDF segundo"));
    m_colas->pendientes[1](QStringLiteral("78"), QString());
    m_colas->pendientes[0](QStringLiteral("77"), QString());
    QCOMPARE(respuestas, (QStringList{ExitoCaja(1), ExitoCaja(2)}));
}

void TstImpresion::ArchivosDeImpresionRetirados()
{
    const QDir carpeta(m_tmp->path());
    const auto recibidos = [&carpeta] {
        return carpeta.entryList({QStringLiteral("*.pdf")}, QDir::Files | QDir::System, QDir::Name);
    };
    // What an earlier run left goes at start; files that only look alike stay.
    for (const char* nombre :
         {"archivo_recibido.pdf", "archivo_recibido_7.pdf", "archivo_recibido_x.pdf", "otro.pdf"}) {
        QVERIFY(soporte::EscribirArchivo(carpeta.filePath(QString::fromLatin1(nombre)), "%PDF"));
    }
    m_impresion = std::make_unique<Impresion>(m_tmp->path(), m_lista, Cups(), [this] { return m_ahora; });
    QCOMPARE(recibidos(), (QStringList{"archivo_recibido_x.pdf", "otro.pdf"}));

    // A name still taken is passed over, its file left as it was.
    QVERIFY(soporte::EscribirArchivo(carpeta.filePath(QStringLiteral("archivo_recibido_1.pdf")), "%PDF ajeno"));
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF a", QStringLiteral("Caja"))), ExitoCaja(1));
    QCOMPARE(soporte::LeerArchivo(carpeta.filePath(QStringLiteral("archivo_recibido_1.pdf"))),
             QByteArray("%PDF ajeno"));
    QCOMPARE(soporte::LeerArchivo(carpeta.filePath(QStringLiteral("archivo_recibido_2.pdf"))), QByteArray("%PDF a"));

    // A print's file stays while its viewer may still read it, and goes at a later print once that time is past.
    m_ahora = 9 * 60 * 1000;
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF b", QStringLiteral("Caja"))), ExitoCaja(2));
    QCOMPARE(recibidos(), (QStringList{"archivo_recibido_1.pdf", "archivo_recibido_2.pdf", "archivo_recibido_3.pdf",
                                       "archivo_recibido_x.pdf", "otro.pdf"}));
    m_ahora = 11 * 60 * 1000;
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF c", QStringLiteral("Caja"))), ExitoCaja(3));
    QCOMPARE(recibidos(), (QStringList{"archivo_recibido_1.pdf", "archivo_recibido_3.pdf", "archivo_recibido_4.pdf",
                                       "archivo_recibido_x.pdf", "otro.pdf"}));
}

void TstImpresion::ConSpooler(std::unique_ptr<VisorPDF> visor)
{
    auto spooler = std::make_unique<SpoolerFalso>();
    m_spooler = spooler.get();
    m_impresion.reset();
    m_impresion = std::make_unique<Impresion>(
        m_tmp->path(), m_lista, visor ? std::move(visor) : Cups(), [this] { return m_ahora; }, std::move(spooler));
}

bool TstImpresion::ConSumatra()
{
    const bool puesto = QFile(Visor()).open(QIODevice::WriteOnly);
    ConSpooler(std::make_unique<VisorSumatra>(m_tmp->path(), *m_lanzador));
    return puesto;
}

void TstImpresion::OpcionesValidas_data()
{
    QTest::addColumn<QString>("opciones");
    QTest::addColumn<QStringList>("cups"); // job attributes
    QTest::addColumn<QString>("sumatra");  // -print-settings
    const QStringList ajustar{"fit-to-page"};
    QTest::newRow("ninguna") << "" << ajustar << "fit";
    QTest::newRow("ajustar, como sin nada") << "\"escala\":\"ajustar\"" << ajustar << "fit";
    QTest::newRow("desconocida ignorada") << "\"grapas\":true" << ajustar << "fit";
    QTest::newRow("copias") << "\"copias\":2" << ajustar + QStringList{"copies=2"} << "fit,2x";
    QTest::newRow("copias 99") << "\"copias\":99.0" << ajustar + QStringList{"copies=99"} << "fit,99x";
    QTest::newRow("páginas") << "\"paginas\":\"1-3,5\"" << ajustar + QStringList{"page-ranges=1-3,5"} << "fit,1-3,5";
    QTest::newRow("horizontal") << "\"orientacion\":\"horizontal\"" << ajustar + QStringList{"orientation-requested=4"}
                                << "fit,landscape";
    QTest::newRow("vertical") << "\"orientacion\":\"vertical\"" << ajustar + QStringList{"orientation-requested=3"}
                              << "fit,portrait";
    QTest::newRow("reducir") << "\"escala\":\"reducir\"" << QStringList{"print-scaling=auto"} << "shrink";
    QTest::newRow("real") << "\"escala\":\"real\"" << QStringList{"print-scaling=none"} << "noscale";
    QTest::newRow("dúplex corto") << "\"duplex\":\"corto\"" << ajustar + QStringList{"sides=two-sided-short-edge"}
                                  << "fit,duplexshort";
    QTest::newRow("monocromo") << "\"color\":\"monocromo\"" << ajustar + QStringList{"print-color-mode=monochrome"}
                               << "fit,monochrome";
    QTest::newRow("papel y bandeja, otro caso")
        << "\"papel\":\"letter\",\"bandeja\":\"auto\"" << ajustar + QStringList{"media=Letter", "media-source=Auto"}
        << "fit,paper=Letter,bin=Auto";
    QTest::newRow("todas") << "\"duplex\":\"largo\",\"copias\":3,\"escala\":\"real\",\"color\":\"color\""
                           << QStringList{"print-scaling=none", "copies=3", "sides=two-sided-long-edge",
                                          "print-color-mode=color"}
                           << "noscale,3x,duplexlong,color";
}

void TstImpresion::OpcionesValidas()
{
    QFETCH(QString, opciones);
    QFETCH(QStringList, cups);
    QFETCH(QString, sumatra);
    ConSpooler();
    const QByteArray cuerpo = CuerpoImpresion("%PDF", QStringLiteral("Caja"), opciones.toUtf8());
    Bitacora bitacora;
    QCOMPARE(Imprimir(cuerpo), ExitoCaja(1));
    QCOMPARE(m_colas->documentos.value(0).atributos, cups);
    QCOMPARE(bitacora.Mensajes().value(1), "? Impresión enviada a CUPS: cola Caja, trabajo 77, " + cups.join(u' '));

    // The same request through SumatraPDF.
    QVERIFY(ConSumatra());
    QCOMPARE(Imprimir(cuerpo), ExitoCaja(1));
    QCOMPARE(m_lanzador->llamadas.value(0).argumentos.mid(2, 2), (QStringList{"-print-settings", sumatra}));
}

void TstImpresion::OpcionInvalida_data()
{
    QTest::addColumn<QString>("opciones");
    QTest::addColumn<QString>("miembro");
    QTest::addColumn<QString>("valor"); // as logged
    Fila("copias cero", "\"copias\":0", "copias", "0");
    Fila("copias 100", "\"copias\":100", "copias", "100");
    Fila("copias con decimales", "\"copias\":1.5", "copias", "1.5");
    Fila("copias en texto", "\"copias\":\"2\"", "copias", "2");
    Fila("copias nulas", "\"copias\":null", "copias", "null");
    Fila("páginas al revés", "\"paginas\":\"5-3\"", "paginas", "5-3");
    Fila("página cero", "\"paginas\":\"0\"", "paginas", "0");
    Fila("páginas con espacios", "\"paginas\":\"1, 2\"", "paginas", "1, 2");
    Fila("páginas en número", "\"paginas\":3", "paginas", "3");
    Fila("orientación", "\"orientacion\":\"apaisada\"", "orientacion", "apaisada");
    Fila("escala", "\"escala\":[\"real\"]", "escala", "[\"real\"]");
    Fila("dúplex", "\"duplex\":true", "duplex", "true");
    Fila("color", "\"color\":\"gris\"", "color", "gris");
    Fila("papel que no tiene", "\"papel\":\"A3\"", "papel", "A3");
    Fila("bandeja que no tiene", "\"bandeja\":\"tray-9\"", "bandeja", "tray-9");
    Fila("valor que escribiría una línea", "\"color\":\"x\\r\\n[2026] ok\"", "color", "x\\u000d\\u000a[2026] ok");
}

void TstImpresion::OpcionInvalida()
{
    QFETCH(QString, opciones);
    QFETCH(QString, miembro);
    QFETCH(QString, valor);
    ConSpooler();
    const QByteArray cuerpo = CuerpoImpresion("%PDF", QStringLiteral("Caja"), opciones.toUtf8());
    Bitacora bitacora;
    QCOMPARE(Imprimir(cuerpo), "{\"success\":false,\"error\":\"Opción de impresión inválida: " + miembro + "\"}");
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Opción de impresión inválida: " + miembro + " = " + valor});
    QVERIFY(!QFileInfo::exists(m_pdf));
    QVERIFY(m_colas->documentos.isEmpty());
}

void TstImpresion::ImpresionDirecta_data()
{
    QTest::addColumn<QString>("cuerpo");
    QTest::addColumn<QString>("respuesta");
    QTest::addColumn<QString>("linea"); // the log's
    const QString base64 = QString::fromLatin1(QByteArray("\x1b@\x00\xff", 4).toBase64());
    QTest::newRow("aceptado") << "{\"base64\":\"" + base64 + "\",\"nombreImpresora\":\"caja\"}"
                              << "{\"success\":true,\"impresora\":\"caja\",\"trabajo\":\"1\"}"
                              << "?? Impresión directa en: caja (4 bytes)";
    QTest::newRow("palabra clave") << "{\"base64\":\"" + base64 + "\",\"nombreImpresora\":\"PREDETERMINADA\"}"
                                   << "{\"success\":true,\"impresora\":\"PREDETERMINADA\",\"trabajo\":\"1\"}"
                                   << "?? Impresión directa en: PREDETERMINADA (4 bytes)";
    QTest::newRow("rechazado") << "{\"base64\":\"" + base64 + "\",\"nombreImpresora\":\"Caja\"}"
                               << "{\"success\":false,\"error\":\"No se pudo imprimir\"}"
                               << "? Error al imprimir en: Caja (4 bytes): The printer is not accepting jobs.";
    QTest::newRow("cortado") << "{\"base64\":\"" + base64 + "\",\"nombreImpresora\":\"Caja\"}"
                             << "{\"success\":false,\"error\":\"No se pudo imprimir\"}"
                             << "? Error al imprimir en: Caja (4 bytes): Printer is offline";
    QTest::newRow("base64 inválido") << "{\"base64\":\"G0A*\",\"nombreImpresora\":\"Caja\"}"
                                     << "{\"success\":false,\"error\":\"Datos de impresión inválidos\"}"
                                     << "? Datos de impresión inválidos para: Caja";
    QTest::newRow("vacío") << "{\"base64\":\"\",\"nombreImpresora\":\"Caja\"}"
                           << "{\"success\":false,\"error\":\"Datos de impresión inválidos\"}"
                           << "? Datos de impresión inválidos para: Caja";
    QTest::newRow("no es JSON") << "[1]"
                                << "{\"success\":false,\"error\":\"JSON inválido\"}"
                                << "? JSON inválido recibido en /print-raw";
    QTest::newRow("impresora desconocida")
        << "{\"base64\":\"" + base64 + "\",\"nombreImpresora\":\"Otra\"}"
        << "{\"success\":false,\"error\":\"Impresora no encontrada: Otra\",\"impresorasDisponibles\":{\"impresoras\":["
           "\"PREDETERMINADA\",\"Caja\"]}}"
        << "? Impresora no encontrada: Otra";
}

void TstImpresion::ImpresionDirecta()
{
    QFETCH(QString, cuerpo);
    QFETCH(QString, respuesta);
    QFETCH(QString, linea);
    ConSpooler();
    if (QByteArray(QTest::currentDataTag()) == "rechazado") {
        m_spooler->rechazo = QStringLiteral("The printer is not accepting jobs.");
    }
    if (QByteArray(QTest::currentDataTag()) == "cortado") {
        m_spooler->falloEnByte = 2;
    }
    Bitacora bitacora;
    QCOMPARE(Directo(cuerpo.toUtf8()), respuesta);
    QCOMPARE(bitacora.Mensajes(), QStringList{linea});
    QCOMPARE(m_spooler->recibido,
             respuesta.contains(QLatin1String("true")) ? QByteArray("\x1b@\x00\xff", 4) : QByteArray());
    // Nothing of the bytes is kept on disk.
    QCOMPARE(QDir(m_tmp->path()).entryList(QDir::Files), QStringList());
    if (respuesta.contains(QLatin1String("true"))) {
        QCOMPARE(
            Trabajo(QStringLiteral("1")),
            QStringLiteral("{\"trabajo\":\"1\",\"impresora\":\"%1\",\"estado\":\"en cola\",\"detalle\":\"media-empty\","
                           "\"hora\":\"%2\"}")
                .arg(QJsonDocument::fromJson(respuesta.toUtf8()).object().value("impresora").toString(),
                     QDateTime::fromMSecsSinceEpoch(0).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    }
}

void TstImpresion::DirectaAlPasoDelSpooler()
{
    // The next piece goes once the spooler has taken the last, and the answer once it has every byte.
    ConSpooler();
    m_spooler->contener = true;
    const QByteArray datos(3 * Alimentador::kTrozo + 5, 'z');
    QStringList respuestas;
    m_impresion->ImprimirDirecto(R"({"nombreImpresora":"caja","base64":")" + datos.toBase64() + R"("})",
                                 [&](const QString& r) { respuestas << r; });
    for (int trozos = 1; trozos <= 3; ++trozos) {
        QTRY_VERIFY2(m_spooler->alPoder,
                     qPrintable(respuestas.join(u' ') + QString::number(m_spooler->recibido.size())));
        QTest::qWait(20); // time enough for a feeder that does not wait to send more
        QCOMPARE(m_spooler->recibido.size(), trozos * Alimentador::kTrozo);
        QVERIFY(respuestas.isEmpty());
        std::exchange(m_spooler->alPoder, nullptr)();
    }
    QTRY_COMPARE(respuestas, QStringList{R"({"success":true,"impresora":"caja","trabajo":"1"})"});
    QCOMPARE(m_spooler->recibido, datos);
}

void TstImpresion::TrabajoBuscadoPorSuDocumento()
{
    // SumatraPDF's job is found in the queue by its file's name, within a bounded time.
    QVERIFY(ConSumatra());
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF", QStringLiteral("Caja"))), ExitoCaja(1));
    QCOMPARE(Imprimir(CuerpoImpresion("%PDF", QStringLiteral("Caja"))), ExitoCaja(2));
    const auto estado = [this](const char* id) {
        return QJsonDocument::fromJson(Trabajo(QString::fromLatin1(id)).toUtf8())
            .object()
            .value(QStringLiteral("estado"))
            .toString();
    };
    QCOMPARE(estado("1"), QStringLiteral("enviado"));
    QCOMPARE(m_spooler->documentosBuscados, QStringList{"archivo_recibido_1.pdf"});
    m_spooler->encontrado = QStringLiteral("12");
    m_ahora += TablaTrabajos::kIntervaloMs;
    QCOMPARE(estado("1"), QStringLiteral("enviado")); // found now, asked next time
    m_ahora += TablaTrabajos::kIntervaloMs;
    QCOMPARE(estado("1"), QStringLiteral("en cola"));
    QCOMPARE(m_spooler->consultas, 1);

    m_spooler->encontrado.clear();
    m_ahora = TablaTrabajos::kBusquedaMs;
    QCOMPARE(estado("2"), QStringLiteral("enviado"));
    m_ahora += TablaTrabajos::kIntervaloMs;
    QCOMPARE(estado("2"), QStringLiteral("desconocido"));
    m_ahora += TablaTrabajos::kIntervaloMs;
    const qsizetype buscados = m_spooler->documentosBuscados.size();
    QCOMPARE(estado("2"), QStringLiteral("desconocido"));
    QCOMPARE(m_spooler->documentosBuscados.size(), buscados);
}

void TstImpresion::UnaConsultaPorMedioSegundo()
{
    ConSpooler();
    QCOMPARE(Directo(QJsonDocument(QJsonObject{{"base64", "aG9sYQ=="}, {"nombreImpresora", "Caja"}}).toJson()),
             ExitoCaja(1));
    for (int i = 0; i < 50; ++i) {
        Trabajo(QStringLiteral("1"));
        m_ahora += 9;
    }
    QCOMPARE(m_spooler->consultas, 1);
    m_ahora = 500;
    m_spooler->info = {EstadoTrabajo::Terminado, QStringLiteral("job-completed")};
    QVERIFY(Trabajo(QStringLiteral("1")).contains(QLatin1String("\"estado\":\"terminado\",\"detalle\":\"\"")));
    // A finished job is not asked about again.
    m_ahora = 5000;
    Trabajo(QStringLiteral("1"));
    QCOMPARE(m_spooler->consultas, 2);

    // Pages asking while the spooler's answer is on its way all get that answer.
    QCOMPARE(Directo(QJsonDocument(QJsonObject{{"base64", "aG9sYQ=="}, {"nombreImpresora", "Caja"}}).toJson()),
             ExitoCaja(2));
    m_spooler->diferirConsultas = true;
    QStringList respuestas;
    for (int i = 0; i < 3; ++i) {
        m_impresion->ConsultarTrabajo(QStringLiteral("2"), [&respuestas](const QString& r) { respuestas << r; });
    }
    QCOMPARE(m_spooler->consultas, 3);
    QVERIFY(respuestas.isEmpty());
    m_spooler->info = {EstadoTrabajo::Imprimiendo, QString()};
    m_spooler->consultasPendientes.takeFirst()(m_spooler->info);
    QCOMPARE(respuestas.size(), 3);
    QVERIFY(respuestas.filter(QStringLiteral("\"estado\":\"imprimiendo\"")).size() == 3);
}

void TstImpresion::TablaLimitada()
{
    TablaTrabajos tabla(nullptr, [this] { return m_ahora; });
    for (int i = 0; i < TablaTrabajos::kMaximo + 5; ++i) {
        tabla.Agregar(QStringLiteral("Caja"), QStringLiteral("Caja"), QStringLiteral("1"));
    }
    QCOMPARE(tabla.Cantidad(), TablaTrabajos::kMaximo);
    Bitacora bitacora;
    QCOMPARE(tabla.Respuesta(QStringLiteral("5")),
             QStringLiteral("{\"success\":false,\"error\":\"Trabajo no encontrado: 5\"}"));
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Trabajo no encontrado: 5"});
    QVERIFY(tabla.Respuesta(QStringLiteral("6")).startsWith(QLatin1String("{\"trabajo\":\"6\"")));
    // A day later every job has gone.
    m_ahora = TablaTrabajos::kVidaMs;
    QVERIFY(tabla.Respuesta(QStringLiteral("1005")).contains(QLatin1String("Trabajo no encontrado")));
    QCOMPARE(tabla.Cantidad(), 0);
    QCOMPARE(tabla.Respuesta(QStringLiteral("x\"y")),
             QStringLiteral("{\"success\":false,\"error\":\"Trabajo no encontrado: x\\\"y\"}"));
}

void TstImpresion::DetalleDeImpresoras()
{
    ConSpooler();
    m_lista.nombres = QStringList{"Caja", "Co\"mi"};
    QCOMPARE(
        Detalle(),
        QStringLiteral("{\"impresoras\":[{\"nombre\":\"Caja\",\"predeterminada\":true,\"estado\":\"lista\",\"motivo\":"
                       "\"\",\"papeles\":[\"A4\",\"Letter\"],\"bandejas\":[\"Auto\"],\"duplex\":true,\"color\":false},"
                       "{\"nombre\":\"Co\\\"mi\",\"predeterminada\":false,\"estado\":\"desconocido\",\"motivo\":\"\","
                       "\"papeles\":[],\"bandejas\":[],\"duplex\":false,\"color\":false}]}"));
    // GET /impresoras is untouched by any of it.
    QCOMPARE(m_impresion->ListarImpresoras(),
             QStringLiteral("{\"impresoras\":[\"PREDETERMINADA\",\"Caja\",\"Co\\\"mi\"]}"));
}

QTEST_GUILESS_MAIN(TstImpresion)
#include "tst_impresion.moc"
