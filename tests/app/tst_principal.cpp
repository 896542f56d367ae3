// The window, the tray icon and the confirmed shut-down, in-process on the offscreen platform, with the whole agent
// behind them: a real listener and a serial port on a pseudo-terminal.
#include "app/agente.h"
#include "app/avisos.h"
#include "app/avisos_ventana.h"
#include "app/bloqueo_sesion.h"
#include "app/espera_bandeja.h"
#include "balanza-simulada/pseudoterminal.h"
#include "scale/balanza.h"
#include "support/soporte.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLockFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Records what Windows would be told about the session's end.
class BloqueoFalso final : public BloqueoSesion
{
public:
    explicit BloqueoFalso(QStringList& pasos)
        : m_pasos(pasos)
    {
    }
    void Bloquear(const QString& motivo) override { m_pasos << QStringLiteral("bloquear: ") + motivo; }
    void Liberar() override { m_pasos << QStringLiteral("liberar"); }

private:
    QStringList& m_pasos;
};

} // namespace

class TstPrincipal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void layoutCaptionsAndTabOrder();
    void minimiseHidesOnlyWhereATrayExists();
    void doubleClickOnTheIconBringsTheWindowBack();
    void otherActivationsDoNothing_data();
    void otherActivationsDoNothing();
    void weightButtonLogsAReadingWithoutDialogs();
    void restartButtonStopsThenStartsTheListener();
    void closeAnsweredNoKeepsEverything();
    void closeAnsweredYesReleasesEverything();
    void requestsAreAnsweredWhileTheQuestionIsOpen();
    void sessionEndAsksToo();
    void sessionEndWithoutInteractionShutsDown();
    void logBoxKeepsTheNewestLinesInOrder();
    void boxClosedWhileHiddenKeepsTheAgentRunning();
    void boxesSpeakSpanish_data();
    void boxesSpeakSpanish();
    void lockLeftUnderOurOwnProcessNumberIsTaken();
    void startUpLineNamesTheFilesUsed();
    void waitForTheTray_data();
    void waitForTheTray();

private:
    bool Responde() const;
    QString TextoLog();

    std::unique_ptr<QTemporaryDir> m_dir;
    // Stands in for a scale that never answers.
    std::unique_ptr<Pseudoterminal> m_pty;
    std::unique_ptr<Agente> m_agente;
    quint16 m_puerto = 0;
    RespuestaAviso m_respuesta = RespuestaAviso::No;
    QStringList m_avisos;
    QStringList m_bloqueos;
    std::function<void()> m_duranteAviso;
    QList<int> m_salidas;
};

void TstPrincipal::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_pty = std::make_unique<Pseudoterminal>();
    QString error;
    QVERIFY2(m_pty->Abrir(error), qPrintable(error));
    m_puerto = soporte::PuertoLibre();
    QVERIFY(soporte::EscribirArchivo(m_dir->filePath(QStringLiteral("config.ini")),
                                     QStringLiteral("[Configuracion]\nPuertoHTTP=%1\nDireccionEscucha=127.0.0.1\n"
                                                    "DispositivoBalanza=%2\nIntentos=2\nPausaIntento=20\n")
                                         .arg(m_puerto)
                                         .arg(m_pty->Dispositivo())
                                         .toUtf8()));
    m_avisos.clear();
    m_bloqueos.clear();
    m_salidas.clear();
    m_respuesta = RespuestaAviso::No;
    m_duranteAviso = nullptr;
    InstalarMostradorAvisos([this](const QString& texto, IconoAviso, BotonesAviso) {
        m_avisos << texto;
        if (m_duranteAviso) {
            m_duranteAviso();
        }
        return m_respuesta;
    });
    m_agente = std::make_unique<Agente>(m_dir->path());
    m_agente->FijarSalida([this](int codigo) { m_salidas << codigo; });
    m_agente->FijarBloqueoSesion(std::make_unique<BloqueoFalso>(m_bloqueos));
    QVERIFY(!m_agente->Iniciar().has_value());
    QVERIFY(m_agente->ObtenerBalanza()->PuertoAbierto());
    QVERIFY(m_avisos.isEmpty());
}

void TstPrincipal::cleanup()
{
    m_agente.reset();
    InstalarMostradorAvisos({});
    m_pty.reset();
    m_dir.reset();
}

bool TstPrincipal::Responde() const
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_puerto);
    if (!socket.waitForConnected(1000)) {
        return false;
    }
    socket.write("GET /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n");
    QByteArray recibido;
    for (int i = 0; i < 300 && !recibido.contains("\"status\":\"ok\""); ++i) {
        QTest::qWait(10);
        recibido += socket.readAll();
    }
    return recibido.startsWith("HTTP/1.1 200 OK");
}

QString TstPrincipal::TextoLog()
{
    m_agente->Ventana()->VolcarLineas();
    return m_agente->Ventana()->txtLog()->toPlainText();
}

void TstPrincipal::layoutCaptionsAndTabOrder()
{
    Principal* ventana = m_agente->Ventana();
    QVERIFY(ventana->isVisible());
    QCOMPARE(ventana->windowTitle(), QStringLiteral("Plugin Tornavo"));
    QCOMPARE(ventana->size(), QSize(461, 318));
    QVERIFY(!ventana->windowIcon().isNull());

    QCOMPARE(ventana->Label1()->text(), QStringLiteral("LOG ..."));
    QCOMPARE(ventana->Label1()->geometry(), QRect(8, 24, 129, 33));
    QCOMPARE(ventana->Command1()->text(), QStringLiteral("Probar peso ??"));
    QCOMPARE(ventana->Command1()->geometry(), QRect(184, 8, 105, 33));
    QCOMPARE(ventana->Command2()->text(), QStringLiteral("?? Reiniciar Servidor"));
    QCOMPARE(ventana->Command2()->geometry(), QRect(376, 8, 81, 33));
    QCOMPARE(ventana->txtLog()->geometry(), QRect(8, 48, 441, 257));
    QVERIFY(ventana->txtLog()->isReadOnly());

    // Tab order: Command1, txtLog, (Label1 takes no focus), Command2.
    QCOMPARE(ventana->Command1()->nextInFocusChain(), static_cast<QWidget*>(ventana->txtLog()));
    QWidget* siguiente = ventana->txtLog()->nextInFocusChain();
    while (siguiente != nullptr && siguiente->focusPolicy() == Qt::NoFocus) {
        siguiente = siguiente->nextInFocusChain();
    }
    QCOMPARE(siguiente, static_cast<QWidget*>(ventana->Command2()));

    // The start-up lines are in the box: the listener's, then nothing but what start-up logged.
    QVERIFY(TextoLog().contains(QStringLiteral("?? Servidor iniciado en IP: 127.0.0.1 | Puerto: %1").arg(m_puerto)));
    QVERIFY(TextoLog().contains(QStringLiteral("? Puerto COM3 abierto con protocolo: Systel1")));
}

void TstPrincipal::minimiseHidesOnlyWhereATrayExists()
{
    Principal* ventana = m_agente->Ventana();
    ventana->FijarHayBandeja([] { return false; });
    ventana->showMinimized();
    QTRY_VERIFY(ventana->isMinimized());
    QTest::qWait(50);
    QVERIFY(ventana->isVisible());

    ventana->showNormal();
    ventana->FijarHayBandeja([] { return true; });
    ventana->showMinimized();
    QTRY_VERIFY(!ventana->isVisible());
    // Hidden, it still serves and logs.
    QVERIFY(Responde());
    QTRY_VERIFY(TextoLog().contains(QStringLiteral("Respuesta enviada: {\"status\":\"ok\"")));
}

void TstPrincipal::doubleClickOnTheIconBringsTheWindowBack()
{
    Principal* ventana = m_agente->Ventana();
    ventana->FijarHayBandeja([] { return true; });
    ventana->showMinimized();
    QTRY_VERIFY(!ventana->isVisible());
    ventana->AlActivarIcono(QSystemTrayIcon::DoubleClick);
    QVERIFY(ventana->isVisible());
    QVERIFY(!ventana->isMinimized());
    QTRY_VERIFY(ventana->isActiveWindow());
}

void TstPrincipal::otherActivationsDoNothing_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("motivo");
    QTest::newRow("single click") << QSystemTrayIcon::Trigger;
    QTest::newRow("context click") << QSystemTrayIcon::Context;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick;
}

void TstPrincipal::otherActivationsDoNothing()
{
    QFETCH(QSystemTrayIcon::ActivationReason, motivo);
    Principal* ventana = m_agente->Ventana();
    ventana->hide();
    ventana->AlActivarIcono(motivo);
    QVERIFY(!ventana->isVisible());
    QVERIFY(ventana->IconoBandeja() == nullptr || ventana->IconoBandeja()->contextMenu() == nullptr);
}

void TstPrincipal::weightButtonLogsAReadingWithoutDialogs()
{
    QTest::mouseClick(m_agente->Ventana()->Command1(), Qt::LeftButton);
    // A silent scale: two paced attempts, then the decoded empty reply.
    QTRY_VERIFY(TextoLog().contains(QStringLiteral("?? Peso devuelto: 0.000")));
    QVERIFY(m_avisos.isEmpty());
}

void TstPrincipal::restartButtonStopsThenStartsTheListener()
{
    QTest::mouseClick(m_agente->Ventana()->Command2(), Qt::LeftButton);
    const QString texto = TextoLog();
    const qsizetype detenido = texto.lastIndexOf(QStringLiteral("?? Servidor detenido correctamente."));
    const qsizetype iniciado = texto.lastIndexOf(QStringLiteral("?? Servidor iniciado en IP:"));
    QVERIFY(detenido > 0);
    QVERIFY(iniciado > detenido);
    QVERIFY(Responde());
}

void TstPrincipal::closeAnsweredNoKeepsEverything()
{
    Principal* ventana = m_agente->Ventana();
    const bool iconoAntes = ventana->IconoEnBandeja();
    m_respuesta = RespuestaAviso::No;
    QVERIFY(!ventana->close());
    QCOMPARE(m_avisos, QStringList{QStringLiteral("¿Deseas cerrar el Plugin?")});
    QVERIFY(ventana->isVisible());
    QVERIFY(m_agente->ObtenerBalanza()->PuertoAbierto());
    QCOMPARE(ventana->IconoEnBandeja(), iconoAntes);
    QVERIFY(m_salidas.isEmpty());
    QVERIFY(Responde());
    // Only the session's end is held with a reason.
    QVERIFY(m_bloqueos.isEmpty());
}

void TstPrincipal::closeAnsweredYesReleasesEverything()
{
    Principal* ventana = m_agente->Ventana();
    m_respuesta = RespuestaAviso::Si;
    QVERIFY(ventana->close());
    QCOMPARE(m_salidas, QList<int>{0});
    QVERIFY(!m_agente->ObtenerBalanza()->PuertoAbierto());
    QVERIFY(!m_agente->Servidor()->Escuchando());
    QVERIFY(!ventana->IconoEnBandeja());
    QVERIFY(!Responde());
    QVERIFY(TextoLog().trimmed().endsWith(QStringLiteral("?? Servidor detenido correctamente.")));
    // The port and the HTTP port are really free: others can take them.
    QTcpServer otro;
    QVERIFY(otro.listen(QHostAddress::LocalHost, m_puerto));
}

void TstPrincipal::requestsAreAnsweredWhileTheQuestionIsOpen()
{
    bool respondio = false;
    m_duranteAviso = [&] { respondio = Responde(); };
    m_respuesta = RespuestaAviso::No;
    QVERIFY(!m_agente->Ventana()->close());
    QVERIFY(respondio);
}

void TstPrincipal::sessionEndAsksToo()
{
    const QString bloquear = QStringLiteral("bloquear: Plugin Tornavo pregunta si desea cerrarse.");
    QStringList duranteLaPregunta;
    m_duranteAviso = [&] { duranteLaPregunta = m_bloqueos; };
    m_agente->Ventana()->hide();
    m_respuesta = RespuestaAviso::No;
    QVERIFY(!m_agente->PreguntarFinSesion(true));
    QCOMPARE(m_avisos, QStringList{QStringLiteral("¿Deseas cerrar el Plugin?")});
    QCOMPARE(duranteLaPregunta, QStringList{bloquear});
    QCOMPARE(m_bloqueos, (QStringList{bloquear, QStringLiteral("liberar")}));
    QVERIFY(Responde());
    m_respuesta = RespuestaAviso::Si;
    QVERIFY(m_agente->PreguntarFinSesion(true));
    QCOMPARE(m_salidas, QList<int>{0});
    QCOMPARE(m_bloqueos, (QStringList{bloquear, QStringLiteral("liberar"), bloquear, QStringLiteral("liberar")}));
}

void TstPrincipal::sessionEndWithoutInteractionShutsDown()
{
    QVERIFY(m_agente->PreguntarFinSesion(false));
    QVERIFY(m_avisos.isEmpty());
    QVERIFY(m_bloqueos.isEmpty());
    QCOMPARE(m_salidas, QList<int>{0});
    QVERIFY(!m_agente->Servidor()->Escuchando());
}

void TstPrincipal::logBoxKeepsTheNewestLinesInOrder()
{
    Principal ventana;
    for (int i = 0; i < Principal::kLineasVisibles + 50; ++i) {
        ventana.AgregarLinea(QStringLiteral("linea %1").arg(i));
        if (i % 1000 == 0) {
            ventana.VolcarLineas();
        }
    }
    ventana.AgregarLinea(QStringLiteral("a\r\nb"));
    QTRY_VERIFY(ventana.txtLog()->toPlainText().endsWith(QStringLiteral("a\nb")));
    const QStringList lineas = ventana.txtLog()->toPlainText().split(u'\n');
    QCOMPARE(lineas.size(), Principal::kLineasVisibles);
    QCOMPARE(lineas.first(), QStringLiteral("linea 52"));
    QCOMPARE(lineas[lineas.size() - 3], QStringLiteral("linea %1").arg(Principal::kLineasVisibles + 49));
}

void TstPrincipal::boxClosedWhileHiddenKeepsTheAgentRunning()
{
    m_agente->Ventana()->hide();
    // A real box, closed by the timer as a user would: if its closing ended the event loop, exec() would return
    // before the timer's 42.
    QMessageBox caja(QMessageBox::Information, QStringLiteral("Plugin Tornavo"), QStringLiteral("aviso"));
    QTimer::singleShot(0, &caja, [&caja] { caja.open(); });
    QTimer::singleShot(100, &caja, [&caja] { caja.done(QMessageBox::Ok); });
    QTimer::singleShot(400, [] { QCoreApplication::exit(42); });
    QCOMPARE(QCoreApplication::exec(), 42);
    QVERIFY(Responde());
}

void TstPrincipal::boxesSpeakSpanish_data()
{
    QTest::addColumn<int>("botones");
    QTest::addColumn<QStringList>("textos");
    QTest::addColumn<int>("tecla");
    QTest::addColumn<int>("respuesta");
    const int siNo = int(BotonesAviso::SiNo);
    const QStringList siYNo{QStringLiteral("&Sí"), QStringLiteral("&No")};
    QTest::newRow("pregunta, Intro: No por defecto") << siNo << siYNo << int(Qt::Key_Return) << int(QMessageBox::No);
    QTest::newRow("pregunta, Escape") << siNo << siYNo << int(Qt::Key_Escape) << int(QMessageBox::No);
    QTest::newRow("pregunta, S") << siNo << siYNo << int(Qt::Key_S) << int(QMessageBox::Yes);
    QTest::newRow("pregunta, N") << siNo << siYNo << int(Qt::Key_N) << int(QMessageBox::No);
    QTest::newRow("error, Intro") << int(BotonesAviso::Aceptar) << QStringList{QStringLiteral("Aceptar")}
                                  << int(Qt::Key_Return) << int(QMessageBox::Ok);
}

void TstPrincipal::boxesSpeakSpanish()
{
    QFETCH(int, botones);
    QFETCH(QStringList, textos);
    QFETCH(int, tecla);
    QFETCH(int, respuesta);
    const auto caja = CrearCajaAviso(QStringLiteral("¿Deseas cerrar el Plugin?"), IconoAviso::Pregunta,
                                     static_cast<BotonesAviso>(botones));
    QStringList vistos;
    for (QAbstractButton* boton : caja->buttons()) {
        vistos << boton->text();
    }
    vistos.sort();
    textos.sort();
    QCOMPARE(vistos, textos);
    QCOMPARE(caja->windowTitle(), QStringLiteral("Plugin Tornavo"));

    QSignalSpy terminada(caja.get(), &QDialog::finished);
    caja->open();
    QVERIFY(caja->isVisible());
    QTest::keyClick(caja.get(), static_cast<Qt::Key>(tecla));
    QTRY_COMPARE(terminada.size(), 1);
    QCOMPARE(int(caja->standardButton(caja->clickedButton())), respuesta);
}

void TstPrincipal::lockLeftUnderOurOwnProcessNumberIsTaken()
{
    // The lock of a dead agent whose process number happens to be this process's. Windows reuses process numbers
    // soon and its lock sees such a file as held; Linux's sees through it, so here this guards the start-up path.
    const QString ruta = QDir(QDir::tempPath()).filePath(QStringLiteral("plugin-tornavo-%1.lock").arg(m_puerto));
    m_agente.reset();
    QByteArray contenido;
    {
        QLockFile cerrojo(ruta);
        QVERIFY(cerrojo.tryLock(0));
        contenido = soporte::LeerArchivo(ruta);
    }
    QVERIFY(!QFileInfo::exists(ruta));
    QVERIFY(soporte::EscribirArchivo(ruta, contenido));
    m_agente = std::make_unique<Agente>(m_dir->path());
    m_agente->FijarSalida([this](int codigo) { m_salidas << codigo; });
    QVERIFY(!m_agente->Iniciar().has_value());
    QVERIFY(Responde());
}

void TstPrincipal::startUpLineNamesTheFilesUsed()
{
    const QString dir = QDir::toNativeSeparators(m_dir->path());
    QVERIFY2(TextoLog().contains(QStringLiteral("] Configuración leída de %1 (carpeta portátil); registro en %2")
                                     .arg(QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("config.ini"))),
                                          QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("logs"))))),
             qPrintable(dir + QStringLiteral(": ") + TextoLog()));
    QVERIFY(!m_agente->ObtenerUbicacion().instalada);
}

void TstPrincipal::waitForTheTray_data()
{
    QTest::addColumn<int>("aparece"); // the answer that first says yes; 0: never
    QTest::addColumn<int>("consultas");
    QTest::addColumn<bool>("lista");
    QTest::addColumn<int>("hechas");
    QTest::newRow("already there") << 1 << 5 << true << 1;
    QTest::newRow("appears while waiting") << 3 << 5 << true << 3;
    QTest::newRow("appears at the last answer") << 5 << 5 << true << 5;
    QTest::newRow("appears too late") << 6 << 5 << false << 5;
    QTest::newRow("never appears") << 0 << 4 << false << 4;
    QTest::newRow("no answers asked for still asks once") << 0 << 0 << false << 1;
}

void TstPrincipal::waitForTheTray()
{
    QFETCH(int, aparece);
    QFETCH(int, consultas);
    QFETCH(bool, lista);
    QFETCH(int, hechas);

    int preguntas = 0;
    EsperaBandeja espera([&] { return ++preguntas == aparece || (aparece > 0 && preguntas > aparece); });
    Principal ventana;
    QSignalSpy lineas(&m_agente->ObtenerRegistro(), &Registro::lineaEscrita);
    QSignalSpy listas(&espera, &EsperaBandeja::lista);
    QSignalSpy agotadas(&espera, &EsperaBandeja::agotada);
    OcultarEnBandeja(ventana, espera, 5, consultas);
    // Hidden while it waits; the event loop runs meanwhile.
    if (espera.EstadoActual() == EsperaBandeja::Estado::Esperando) {
        QVERIFY(!ventana.isVisible());
    }
    QTRY_VERIFY(espera.EstadoActual() != EsperaBandeja::Estado::Esperando);
    QTest::qWait(30); // no further answers once decided
    QCOMPARE(espera.Consultas(), hechas);
    QCOMPARE(preguntas, hechas);
    QCOMPARE(listas.size(), lista ? 1 : 0);
    QCOMPARE(agotadas.size(), lista ? 0 : 1);
    QCOMPARE(espera.EstadoActual(), lista ? EsperaBandeja::Estado::Lista : EsperaBandeja::Estado::Agotada);
    // Never hidden without an icon: no notification area, so the window shows, and says why.
    QCOMPARE(ventana.isVisible(), !lista);
    const bool avisada = !lineas.isEmpty() && lineas.last().first().toString().endsWith(
                                                  QStringLiteral("] ?? No apareció el área de notificación: se "
                                                                 "muestra la ventana."));
    QCOMPARE(avisada, !lista);
}

QTEST_MAIN(TstPrincipal)
#include "tst_principal.moc"
