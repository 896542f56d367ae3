// Starting outside programs, with real processes.
#include "support/bitacora.h"
#include "support/programa_sustituto.h"
#include "support/soporte.h"

#include "base/lanzador.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using soporte::Bitacora;
using soporte::CrearProgramaSustituto;
using soporte::LlamadaRegistrada;

class TstLanzador final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void IniciaConArgumentosYCarpeta();
    void CodigoDelInicioFallido_data();
    void CodigoDelInicioFallido();
    void EjecutarProgramaRegistraElFallo();
    void EntradaYSalidaDeUnProgramaObservado();
    void ProgramaObservadoQueNoArranca();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void TstLanzador::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
}

void TstLanzador::IniciaConArgumentosYCarpeta()
{
    const QString programa = m_tmp->filePath(QStringLiteral("prog"));
    QVERIFY(CrearProgramaSustituto(programa));
    const QString carpeta = m_tmp->filePath(QStringLiteral("trabajo"));
    QVERIFY(QDir().mkpath(carpeta));
    LanzadorQt lanzador;
    int codigo = 0;
    // Arguments go over as they are, one by one: no shell sees them.
    const QStringList argumentos{QStringLiteral("-i"), QStringLiteral("con espacio"),
                                 QStringLiteral("co\"mi'lla $HOME"), QString()};
    QVERIFY(lanzador.IniciarDesligado(programa, argumentos, carpeta, codigo));
    QTRY_VERIFY_WITH_TIMEOUT(!LlamadaRegistrada(programa).isEmpty(), 10000);
    QCOMPARE(LlamadaRegistrada(programa),
             (QStringList{"arg:-i", "arg:con espacio", "arg:co\"mi'lla $HOME", "arg:", "cwd:" + carpeta}));
}

void TstLanzador::CodigoDelInicioFallido_data()
{
    QTest::addColumn<QString>("caso");
    QTest::addColumn<int>("codigo");
    QTest::newRow("programa inexistente") << "inexistente" << ENOENT;
    QTest::newRow("no ejecutable") << "noejecutable" << EACCES;
    QTest::newRow("carpeta de trabajo inexistente") << "sincarpeta" << ENOENT;
}

void TstLanzador::CodigoDelInicioFallido()
{
    QFETCH(QString, caso);
    QFETCH(int, codigo);
    QString programa = m_tmp->filePath(QStringLiteral("prog"));
    QString carpeta = m_tmp->path();
    if (caso == QLatin1String("inexistente")) {
        programa = m_tmp->filePath(QStringLiteral("no/existe"));
    } else if (caso == QLatin1String("noejecutable")) {
        QVERIFY(QFile(programa).open(QIODevice::WriteOnly));
    } else {
        QVERIFY(CrearProgramaSustituto(programa));
        carpeta = m_tmp->filePath(QStringLiteral("no-existe"));
    }
    LanzadorQt lanzador;
    int obtenido = 0;
    QVERIFY(!lanzador.IniciarDesligado(programa, {QStringLiteral("-i")}, carpeta, obtenido));
    QCOMPARE(obtenido, codigo);
}

void TstLanzador::EjecutarProgramaRegistraElFallo()
{
    Bitacora bitacora;
    LanzadorQt lanzador;
    const QString programa = m_tmp->filePath(QStringLiteral("Qendra/Qendra"));
    QVERIFY(!EjecutarPrograma(lanzador, programa, {QStringLiteral("-i")}, m_tmp->path()));
    QCOMPARE(bitacora.Mensajes(), QStringList{"? Error al ejecutar " + programa + " | Código: 2"});

    bitacora.Limpiar();
    QVERIFY(CrearProgramaSustituto(m_tmp->filePath(QStringLiteral("bien"))));
    QVERIFY(EjecutarPrograma(lanzador, m_tmp->filePath(QStringLiteral("bien")), {}, m_tmp->path()));
    QVERIFY(bitacora.Mensajes().isEmpty());
}

void TstLanzador::EntradaYSalidaDeUnProgramaObservado()
{
    const QString programa = m_tmp->filePath(QStringLiteral("copia"));
    const QString copia = m_tmp->filePath(QStringLiteral("copia.bin"));
    QFile guion(programa);
    QVERIFY(guion.open(QIODevice::WriteOnly));
    guion.write(QStringLiteral("#!/bin/sh\ncat > '%1'\necho \"fallo: $1\" >&2\nexit 3\n").arg(copia).toUtf8());
    guion.close();
    QVERIFY(guion.setPermissions(guion.permissions() | QFile::ExeOwner));

    QByteArray entrada(3 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < entrada.size(); ++i) {
        entrada[i] = static_cast<char>((i * 7919) % 251);
    }
    LanzadorQt lanzador;
    QList<bool> inicios;
    int codigo = -1;
    bool normal = false;
    QString errores;
    bool terminado = false;
    lanzador.IniciarConEntrada(
        programa, {QStringLiteral("uno")}, entrada, [&](bool iniciado) { inicios << iniciado; },
        [&](int c, bool n, const QString& e) {
            codigo = c;
            normal = n;
            errores = e;
            terminado = true;
        });
    // Nothing is known before the event loop runs: the caller is never held up.
    QVERIFY(inicios.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(terminado, 20000);
    QCOMPARE(inicios, QList<bool>{true});
    QCOMPARE(codigo, 3);
    QVERIFY(normal);
    QCOMPARE(errores, QStringLiteral("fallo: uno\n"));
    QCOMPARE(soporte::LeerArchivo(copia), entrada);
}

void TstLanzador::ProgramaObservadoQueNoArranca()
{
    LanzadorQt lanzador;
    QList<bool> inicios;
    bool terminado = false;
    lanzador.IniciarConEntrada(
        m_tmp->filePath(QStringLiteral("no-existe")), {}, QByteArray("x"), [&](bool iniciado) { inicios << iniciado; },
        [&](int, bool, const QString&) { terminado = true; });
    QTRY_COMPARE_WITH_TIMEOUT(inicios, QList<bool>{false}, 10000);
    QVERIFY(!terminado);
}

QTEST_GUILESS_MAIN(TstLanzador)
#include "tst_lanzador.moc"
