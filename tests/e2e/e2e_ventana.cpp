// The agent stopped by its service manager (SIGTERM) or by an installer (the executable run with --detener): the
// shut-down runs without asking. Started in the tray on a real X server: hidden until a notification area appears,
// then behind its icon.
#include "support/agente_prueba.h"
#include "support/soporte.h"

#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <csignal>

using soporte::AgenteDePrueba;

namespace {

QByteArray Salida(const QString& programa, const QStringList& argumentos, const QString& pantalla)
{
    QProcess proceso;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("DISPLAY"), pantalla);
    proceso.setProcessEnvironment(entorno);
    proceso.start(programa, argumentos);
    proceso.waitForFinished(10000);
    return proceso.readAllStandardOutput();
}

// Whether a window of the agent sits inside the tray's panel, in the output of xwininfo -root -tree.
bool IconoEnPanel(const QByteArray& arbol)
{
    const auto sangria = [](const QByteArray& linea) { return linea.size() - linea.trimmed().size(); };
    qsizetype panel = -1;
    for (const QByteArray& linea : arbol.split('\n')) {
        if (panel >= 0 && !linea.trimmed().isEmpty() && sangria(linea) <= panel) {
            panel = -1;
        }
        if (panel >= 0 && linea.contains("(\"plugin-tornavo\"")) {
            return true;
        }
        if (linea.contains("(\"panel\" \"trayer\")")) {
            panel = sangria(linea);
        }
    }
    return false;
}

} // namespace

class E2eVentana : public QObject
{
    Q_OBJECT

private slots:
    void stopSignalShutsDownWithoutAsking_data();
    void stopSignalShutsDownWithoutAsking();
    void startInTheTrayWaitsForTheNotificationArea();
};

void E2eVentana::stopSignalShutsDownWithoutAsking_data()
{
    QTest::addColumn<int>("senal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("--detener") << 0;
}

void E2eVentana::stopSignalShutsDownWithoutAsking()
{
    QFETCH(int, senal);
    AgenteDePrueba agente;
    agente.Configurar(QStringLiteral("Comportamiento=NORMAL\r\n"));
    QVERIFY(agente.Iniciar());
    QCOMPARE(agente.Get(QStringLiteral("/status")).estado, 200);

    if (senal != 0) {
        QCOMPARE(::kill(static_cast<pid_t>(agente.Proceso().processId()), senal), 0);
    } else {
        QProcess detener;
        detener.setProcessEnvironment(agente.Proceso().processEnvironment());
        detener.start(agente.Carpeta() + QStringLiteral("/plugin-tornavo"), {QStringLiteral("--detener")});
        QVERIFY(detener.waitForFinished(20000));
        QCOMPARE(detener.exitCode(), 0);
    }
    QVERIFY(agente.Proceso().waitForFinished(10000));
    QCOMPARE(agente.Proceso().exitStatus(), QProcess::NormalExit);
    QCOMPARE(agente.Proceso().exitCode(), 0);
    QVERIFY(agente.LineasLog().last().endsWith(QLatin1String("] ?? Servidor detenido correctamente.")));
    QVERIFY(!agente.SalidaDeError().contains("Deseas cerrar"));
    QTcpServer otro;
    QVERIFY(otro.listen(QHostAddress::LocalHost, agente.Puerto()));
}

void E2eVentana::startInTheTrayWaitsForTheNotificationArea()
{
    QStringList programas;
    for (const char* nombre : {"Xvfb", "trayer", "xdotool", "xwininfo"}) {
        programas << QStandardPaths::findExecutable(QString::fromLatin1(nombre));
        if (programas.last().isEmpty()) {
            QSKIP(qPrintable(QStringLiteral("falta %1 (paquetes xvfb, trayer, xdotool, x11-utils)").arg(nombre)));
        }
    }
    int numero = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(numero)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(numero))) {
        ++numero;
    }
    const QString pantalla = QStringLiteral(":%1").arg(numero);
    QProcess xvfb;
    QProcess trayer;
    AgenteDePrueba agente;
    const auto limpiar = qScopeGuard([&] {
        agente.Detener();
        soporte::DetenerProceso(trayer);
        soporte::DetenerProceso(xvfb);
    });
    xvfb.start(programas[0], {pantalla, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                              QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(numero)), 10000);

    agente.Configurar();
    agente.FijarArgumentos({QStringLiteral("--bandeja")});
    QVERIFY2(agente.Iniciar({QStringLiteral("DISPLAY=") + pantalla, QStringLiteral("QT_QPA_PLATFORM=xcb")}),
             agente.SalidaDeError().constData());
    const auto ventanasVisibles = [&] {
        return Salida(programas[2],
                      {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                       QStringLiteral("^Plugin Tornavo$")},
                      pantalla)
            .trimmed();
    };
    const auto arbol = [&] {
        return Salida(programas[3], {QStringLiteral("-root"), QStringLiteral("-tree")}, pantalla);
    };
    // Serving, and waiting hidden: no window, no icon yet.
    QTest::qWait(1500);
    QCOMPARE(agente.Get(QStringLiteral("/status")).estado, 200);
    QCOMPARE(ventanasVisibles(), QByteArray());
    QVERIFY(!IconoEnPanel(arbol()));

    // The notification area comes late, as at some log-ins: the icon goes there and the window stays hidden.
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("DISPLAY"), pantalla);
    trayer.setProcessEnvironment(entorno);
    trayer.start(programas[1], {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                QStringLiteral("--width"), QStringLiteral("200"), QStringLiteral("--height"),
                                QStringLiteral("32"), QStringLiteral("--SetDockType"), QStringLiteral("true")});
    QTRY_VERIFY_WITH_TIMEOUT(IconoEnPanel(arbol()), 15000);
    QCOMPARE(ventanasVisibles(), QByteArray());
    QVERIFY(agente.LineasLog().filter(QStringLiteral("No apareció el área de notificación")).isEmpty());
}

QTEST_GUILESS_MAIN(E2eVentana)
#include "e2e_ventana.moc"
