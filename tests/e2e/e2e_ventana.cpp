// The agent stopped by its service manager (SIGTERM) or by an installer (the executable run with --detener): the
// shut-down runs without asking.
#include "support/agente_prueba.h"

#include <QTcpServer>
#include <QTest>

#include <csignal>

using soporte::AgenteDePrueba;

class E2eVentana : public QObject
{
    Q_OBJECT

private slots:
    void stopSignalShutsDownWithoutAsking_data();
    void stopSignalShutsDownWithoutAsking();
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

QTEST_GUILESS_MAIN(E2eVentana)
#include "e2e_ventana.moc"
