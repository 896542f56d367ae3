// config.ini reading, where files live, and the version text.
#include "settings/configuracion.h"
#include "settings/ini.h"
#include "settings/ubicacion.h"
#include "settings/version.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TstSettings : public QObject
{
    Q_OBJECT

private slots:
    void iniReading_data();
    void iniReading();
    void iniMissingFileGivesDefault();
    void iniWindows1252File();
    void configurationDefaults();
    void configurationValues();
    void configurationRejectsBadNumbers_data();
    void configurationRejectsBadNumbers();
    void userConfigurationOverridesKeyByKey();
    void whereFilesLive_data();
    void whereFilesLive();

    void versionText_data();
    void versionText();
    void compiledVersionIsWellFormed();
};

void TstSettings::iniReading_data()
{
    QTest::addColumn<QString>("contenido");
    QTest::addColumn<QString>("clave");
    QTest::addColumn<QString>("esperado");

    QTest::newRow("plain") << "[Configuracion]\nMODE=DEV\n"
                           << "MODE"
                           << "DEV";
    QTest::newRow("missing section") << "[Otra]\nMODE=DEV\n"
                                     << "MODE"
                                     << "<def>";
    QTest::newRow("missing key") << "[Configuracion]\nIntentos=3\n"
                                 << "MODE"
                                 << "<def>";
    QTest::newRow("empty value is empty, not default") << "[Configuracion]\nMODE=\n"
                                                       << "MODE"
                                                       << "";
    QTest::newRow("section and key in any case") << "[CONFIGURACION]\nmode=DEV\n"
                                                 << "Mode"
                                                 << "DEV";
    QTest::newRow("blanks trimmed") << "[ Configuracion ]\n  MODE \t=  DEV \t\n"
                                    << "MODE"
                                    << "DEV";
    QTest::newRow("value case kept") << "[Configuracion]\nProtocoloBalanza=kretz\n"
                                     << "ProtocoloBalanza"
                                     << "kretz";
    QTest::newRow("quotes removed") << "[Configuracion]\nMODE=\" DEV \"\n"
                                    << "MODE"
                                    << " DEV ";
    QTest::newRow("unbalanced quote kept") << "[Configuracion]\nMODE=\"DEV\n"
                                           << "MODE"
                                           << "\"DEV";
    QTest::newRow("comment line ignored") << "[Configuracion]\n;MODE=DEV\nMODE=PRO\n"
                                          << "MODE"
                                          << "PRO";
    QTest::newRow("first key wins") << "[Configuracion]\nMODE=A\nMODE=B\n"
                                    << "MODE"
                                    << "A";
    QTest::newRow("key in a later section ignored") << "[Configuracion]\nIntentos=1\n[Otra]\nMODE=X\n"
                                                    << "MODE"
                                                    << "<def>";
    QTest::newRow("CR LF lines") << "[Configuracion]\r\nMODE=DEV\r\n"
                                 << "MODE"
                                 << "DEV";
    QTest::newRow("byte order mark") << QStringLiteral("\uFEFF[Configuracion]\nMODE=DEV\n") << "MODE"
                                     << "DEV";
    QTest::newRow("equals inside value") << "[Configuracion]\nMODE=a=b\n"
                                         << "MODE"
                                         << "a=b";
    QTest::newRow("300 characters read as 254") << "[Configuracion]\nMODE=" + QString(300, u'x') + "\n"
                                                << "MODE" << QString(254, u'x');
}

void TstSettings::iniReading()
{
    QFETCH(QString, contenido);
    QFETCH(QString, clave);
    QFETCH(QString, esperado);
    if (esperado == QLatin1String("<def>")) {
        esperado = QStringLiteral("por defecto");
    }
    QCOMPARE(LeerINITexto(QStringLiteral("Configuracion"), clave, QStringLiteral("por defecto"), contenido), esperado);
}

void TstSettings::iniMissingFileGivesDefault()
{
    QTemporaryDir dir;
    QCOMPARE(LeerINI(QStringLiteral("Configuracion"), QStringLiteral("MODE"), QStringLiteral("PRO"),
                     dir.filePath(QStringLiteral("config.ini"))),
             QStringLiteral("PRO"));
}

void TstSettings::iniWindows1252File()
{
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("config.ini"));
    QVERIFY(soporte::EscribirArchivo(ruta, "[Configuracion]\r\nCarpetaCSV=C:\\Dep\xf3sito\r\n"));
    QCOMPARE(LeerINI(QStringLiteral("Configuracion"), QStringLiteral("CarpetaCSV"), QString(), ruta),
             QStringLiteral("C:\\Depósito"));
    QVERIFY(soporte::EscribirArchivo(ruta, "[Configuracion]\r\nCarpetaCSV=C:\\Dep\xc3\xb3sito\r\n"));
    QCOMPARE(LeerINI(QStringLiteral("Configuracion"), QStringLiteral("CarpetaCSV"), QString(), ruta),
             QStringLiteral("C:\\Depósito"));
}

void TstSettings::configurationDefaults()
{
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("config.ini"));
    QVERIFY(soporte::EscribirArchivo(ruta, "; nothing but a comment\r\n"));
    Configuracion cfg;
    cfg.MODE = QStringLiteral("basura");
    QString error;
    QVERIFY(LeerConfiguracion(ruta, cfg, error));
    QCOMPARE(cfg.Comportamiento, QStringLiteral("NORMAL"));
    QCOMPARE(cfg.PortBalanza, qint16(3));
    QCOMPARE(cfg.ProtocoloBalanza, QStringLiteral("Systel1"));
    QCOMPARE(cfg.Intentos, 25);
    QCOMPARE(cfg.MODE, QStringLiteral("PRO"));
    QCOMPARE(cfg.PuertoHTTP, quint16(9999));
    QCOMPARE(cfg.DominioWeb, QStringLiteral("tornavo.com"));
    QCOMPARE(cfg.PausaIntento, 50);
    QCOMPARE(cfg.IntervaloBalanza, 200);
    QCOMPARE(cfg.EstableMs, 500);
    QCOMPARE(cfg.EsperaEstable, 3000);
    QCOMPARE(cfg.OyentesBalanza, 8);
    QVERIFY(cfg.EsNormal() && cfg.EsPro() && !cfg.EsDev());
}

void TstSettings::configurationValues()
{
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("config.ini"));
    QVERIFY(soporte::EscribirArchivo(ruta, "[Configuracion]\r\nComportamiento=normal\r\nPortBalanza=-7\r\n"
                                           "Intentos=-3\r\nMODE=pro\r\nPuertoHTTP=8080\r\nDominioWeb=Ejemplo.COM\r\n"
                                           "IntervaloBalanza=10\r\nEstableMs=0\r\nEsperaEstable=600000\r\n"
                                           "OyentesBalanza=0\r\n"));
    Configuracion cfg;
    QString error;
    QVERIFY2(LeerConfiguracion(ruta, cfg, error), qPrintable(error));
    // The ends of each range are accepted.
    QCOMPARE(cfg.IntervaloBalanza, 10);
    QCOMPARE(cfg.EstableMs, 0);
    QCOMPARE(cfg.EsperaEstable, 600000);
    QCOMPARE(cfg.OyentesBalanza, 0);
    QCOMPARE(cfg.PortBalanza, qint16(-7));
    QCOMPARE(cfg.Intentos, -3);
    QCOMPARE(cfg.PuertoHTTP, quint16(8080));
    QCOMPARE(cfg.DominioWeb, QStringLiteral("ejemplo.com"));
    // Both comparisons are exact: lower case is "another value".
    QVERIFY(!cfg.EsNormal());
    QVERIFY(!cfg.EsPro());
}

void TstSettings::configurationRejectsBadNumbers_data()
{
    QTest::addColumn<QByteArray>("linea");
    QTest::addColumn<QString>("clave");
    QTest::newRow("letters") << QByteArray("PortBalanza=COM3") << QStringLiteral("PortBalanza");
    QTest::newRow("above 16 bits") << QByteArray("PortBalanza=32768") << QStringLiteral("PortBalanza");
    QTest::newRow("empty") << QByteArray("Intentos=") << QStringLiteral("Intentos");
    QTest::newRow("above 32 bits") << QByteArray("Intentos=2147483648") << QStringLiteral("Intentos");
    QTest::newRow("inner space") << QByteArray("Intentos=2 5") << QStringLiteral("Intentos");
    QTest::newRow("hex") << QByteArray("Intentos=0x10") << QStringLiteral("Intentos");
    QTest::newRow("http port zero") << QByteArray("PuertoHTTP=0") << QStringLiteral("PuertoHTTP");
    QTest::newRow("interval below 10 ms") << QByteArray("IntervaloBalanza=9") << QStringLiteral("IntervaloBalanza");
    QTest::newRow("interval decimal") << QByteArray("IntervaloBalanza=200.5") << QStringLiteral("IntervaloBalanza");
    QTest::newRow("settling negative") << QByteArray("EstableMs=-1") << QStringLiteral("EstableMs");
    QTest::newRow("settling above a minute") << QByteArray("EstableMs=60001") << QStringLiteral("EstableMs");
    QTest::newRow("settled wait empty") << QByteArray("EsperaEstable=") << QStringLiteral("EsperaEstable");
    QTest::newRow("settled wait above ten minutes")
        << QByteArray("EsperaEstable=600001") << QStringLiteral("EsperaEstable");
    QTest::newRow("listeners above 100") << QByteArray("OyentesBalanza=101") << QStringLiteral("OyentesBalanza");
    QTest::newRow("listeners in words") << QByteArray("OyentesBalanza=ocho") << QStringLiteral("OyentesBalanza");
}

void TstSettings::configurationRejectsBadNumbers()
{
    QFETCH(QByteArray, linea);
    QFETCH(QString, clave);
    QTemporaryDir dir;
    const QString ruta = dir.filePath(QStringLiteral("config.ini"));
    QVERIFY(soporte::EscribirArchivo(ruta, "[Configuracion]\r\n" + linea + "\r\n"));
    Configuracion cfg;
    QString error;
    QVERIFY(!LeerConfiguracion(ruta, cfg, error));
    QVERIFY2(error.contains(clave) && error.contains(QString::fromUtf8(linea.mid(linea.indexOf('=') + 1))),
             qPrintable(error));
}

void TstSettings::userConfigurationOverridesKeyByKey()
{
    QTemporaryDir dir;
    const QString maquina = dir.filePath(QStringLiteral("maquina.ini"));
    const QString usuario = dir.filePath(QStringLiteral("usuario.ini"));
    QVERIFY(soporte::EscribirArchivo(maquina, "[Configuracion]\r\nMODE=DEV\r\nPuertoHTTP=8080\r\n"
                                              "DominioWeb=tienda.com\r\nIntentos=tres\r\n"));
    QVERIFY(soporte::EscribirArchivo(usuario, "[configuracion]\nPuertoHTTP=9000\nDominioWeb=\nIntentos=4\n"));
    Configuracion cfg;
    QString error;
    // The user's valid number hides the machine's bad one; a missing file in the list is no file at all.
    QVERIFY2(LeerConfiguracion({maquina, dir.filePath(QStringLiteral("falta.ini")), usuario}, cfg, error),
             qPrintable(error));
    QCOMPARE(cfg.MODE, QStringLiteral("DEV"));
    QCOMPARE(cfg.PuertoHTTP, quint16(9000));
    QCOMPARE(cfg.DominioWeb, QString());
    QCOMPARE(cfg.Intentos, 4);
    QCOMPARE(cfg.ProtocoloBalanza, QStringLiteral("Systel1"));

    QVERIFY(!LeerConfiguracion(QStringList{usuario, maquina}, cfg, error));
    QVERIFY2(error.contains(QStringLiteral("Intentos")) && error.contains(QStringLiteral("tres")), qPrintable(error));
}

void TstSettings::whereFilesLive_data()
{
    QTest::addColumn<bool>("junto");
    QTest::addColumn<bool>("maquina");
    QTest::addColumn<bool>("usuario");
    QTest::addColumn<bool>("escribible");
    QTest::addColumn<bool>("instalada");
    QTest::addColumn<QStringList>("leidas");
    QTest::addColumn<QString>("datos");
    const QString junto = QStringLiteral("/opt/pt/config.ini");
    const QString maquina = QStringLiteral("/etc/pt/config.ini");
    const QString usuario = QStringLiteral("/home/u/.config/pt/config.ini");
    const QString programa = QStringLiteral("/opt/pt");
    const QString datos = QStringLiteral("/home/u/.local/share/pt");
    QTest::newRow("portable") << true << false << false << true << false << QStringList{junto} << programa;
    QTest::newRow("portable beats the machine's file")
        << true << true << true << false << false << QStringList{junto} << programa;
    QTest::newRow("installed, machine file") << false << true << false << true << true << QStringList{maquina} << datos;
    QTest::newRow("installed, both files")
        << false << true << true << false << true << QStringList{maquina, usuario} << datos;
    QTest::newRow("installed, user file only")
        << false << false << true << false << true << QStringList{usuario} << datos;
    QTest::newRow("portable folder missing its file")
        << false << false << false << true << false << QStringList{} << programa;
    QTest::newRow("installed, every file missing")
        << false << false << false << false << true << QStringList{} << datos;
}

void TstSettings::whereFilesLive()
{
    QFETCH(bool, junto);
    QFETCH(bool, maquina);
    QFETCH(bool, usuario);
    QFETCH(bool, escribible);
    QFETCH(bool, instalada);
    QFETCH(QStringList, leidas);
    QFETCH(QString, datos);

    EntornoUbicacion entorno;
    entorno.carpetaPrograma = QStringLiteral("/opt/pt");
    entorno.sistema.configMaquina = QStringLiteral("/etc/pt/config.ini");
    entorno.sistema.configUsuario = QStringLiteral("/home/u/.config/pt/config.ini");
    entorno.sistema.datosUsuario = QStringLiteral("/home/u/.local/share/pt");
    QStringList existen;
    if (junto) {
        existen << QStringLiteral("/opt/pt/config.ini");
    }
    if (maquina) {
        existen << entorno.sistema.configMaquina;
    }
    if (usuario) {
        existen << entorno.sistema.configUsuario;
    }
    entorno.esArchivo = [&](const QString& ruta) { return existen.contains(ruta); };
    QStringList probadas;
    entorno.carpetaEscribible = [&](const QString& carpeta) {
        probadas << carpeta;
        return escribible;
    };

    const Ubicacion u = ElegirUbicacion(entorno);
    QCOMPARE(u.instalada, instalada);
    QCOMPARE(u.configuraciones, leidas);
    QCOMPARE(u.carpetaDatos, datos);
    QCOMPARE(u.CarpetaLogs(), datos + QStringLiteral("/logs"));
    QVERIFY(probadas.isEmpty() || probadas == QStringList{entorno.carpetaPrograma});
    const QString linea = u.Descripcion();
    for (const QString& ruta : leidas) {
        QVERIFY2(linea.contains(QDir::toNativeSeparators(ruta)), qPrintable(linea));
    }
    QVERIFY2(linea.endsWith(QStringLiteral("registro en ") + QDir::toNativeSeparators(datos + QStringLiteral("/logs"))),
             qPrintable(linea));
}

void TstSettings::versionText_data()
{
    QTest::addColumn<QString>("numeros");
    QTest::addColumn<QString>("texto");
    QTest::newRow("plain") << "3.4.0.12"
                           << "3.4.0.12";
    QTest::newRow("leading zeros dropped") << "2.00.0.05"
                                           << "2.0.0.5";
    QTest::newRow("three numbers") << "1.2.3"
                                   << "1.0.0.0";
    QTest::newRow("empty part") << "1..2.3"
                                << "1.0.0.0";
    QTest::newRow("too big") << "1.2.3.65536"
                             << "1.0.0.0";
    QTest::newRow("letters") << "1.2.3.x"
                             << "1.0.0.0";
    QTest::newRow("empty") << ""
                           << "1.0.0.0";
}

void TstSettings::versionText()
{
    QFETCH(QString, numeros);
    QFETCH(QString, texto);
    QCOMPARE(NormalizarVersion(numeros), texto);
}

void TstSettings::compiledVersionIsWellFormed()
{
    QCOMPARE(NormalizarVersion(ObtenerVersion()), ObtenerVersion());
    QVERIFY(ObtenerVersion() != QLatin1String("1.0.0.0"));
}

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
