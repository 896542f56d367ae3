// The activity log and its retention.
#include "base/registro.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

qint64 Local(int anio, int mes, int dia, int hora, int minuto, int segundo)
{
    return QDateTime(QDate(anio, mes, dia), QTime(hora, minuto, segundo)).toMSecsSinceEpoch();
}

void FijarModificacion(const QString& ruta, const QDateTime& momento)
{
    QFile archivo(ruta);
    QVERIFY(archivo.open(QIODevice::ReadWrite));
    QVERIFY(archivo.setFileTime(momento, QFileDevice::FileModificationTime));
}

} // namespace

class TstRegistro final : public QObject
{
    Q_OBJECT

private slots:
    void logLineFormatAndFile();
    void logCreatesFolderAndSurvivesAFileNamedLogs();
    void logDayChangeStartsNewFile();
    void logStopsAtItsDailyCapAndSummarises();
    void retentionCutOff();
    void retentionRunsOnTheFirstLineAfterTheCutOff();
};

void TstRegistro::logLineFormatAndFile()
{
    QTemporaryDir dir;
    Registro registro(dir.path(), [] { return Local(2025, 11, 20, 14, 3, 9); });
    QSignalSpy lineas(&registro, &Registro::lineaEscrita);
    registro.Escribir(QStringLiteral("Error al abrir el puerto COM. Verifique configuración."));
    registro.Escribir(QString());
    registro.Escribir(QStringLiteral("a\r\nb"));

    QCOMPARE(lineas.size(), 3);
    QCOMPARE(lineas[0][0].toString(),
             QStringLiteral("[2025-11-20 14:03:09] Error al abrir el puerto COM. Verifique configuración."));
    QCOMPARE(lineas[1][0].toString(), QStringLiteral("[2025-11-20 14:03:09] "));
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-20.log"))),
             QByteArray("[2025-11-20 14:03:09] Error al abrir el puerto COM. Verifique configuraci\xc3\xb3n.\r\n"
                        "[2025-11-20 14:03:09] \r\n"
                        "[2025-11-20 14:03:09] a\r\nb\r\n"));
}

void TstRegistro::logCreatesFolderAndSurvivesAFileNamedLogs()
{
    QTemporaryDir dir;
    QVERIFY(soporte::EscribirArchivo(dir.filePath(QStringLiteral("logs")), "not a folder"));
    Registro registro(dir.path(), RelojDelSistema());
    QSignalSpy lineas(&registro, &Registro::lineaEscrita);
    registro.Escribir(QStringLiteral("hola"));
    QCOMPARE(lineas.size(), 1); // the window still gets it
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs"))), QByteArray("not a folder"));

    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("logs"))));
    registro.Escribir(QStringLiteral("otra vez"));
    QCOMPARE(soporte::LineasDelLog(dir.path()).size(), 1);
}

void TstRegistro::logDayChangeStartsNewFile()
{
    QTemporaryDir dir;
    qint64 ahora = Local(2025, 11, 20, 23, 59, 59);
    Registro registro(dir.path(), [&ahora] { return ahora; });
    registro.Escribir(QStringLiteral("antes"));
    ahora = Local(2025, 11, 21, 0, 0, 0);
    registro.Escribir(QStringLiteral("después"));
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-20.log"))),
             QByteArray("[2025-11-20 23:59:59] antes\r\n"));
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-21.log"))),
             QByteArray("[2025-11-21 00:00:00] despu\xc3\xa9s\r\n"));
}

void TstRegistro::logStopsAtItsDailyCapAndSummarises()
{
    QTemporaryDir dir;
    Registro registro(dir.path(), RelojDelSistema(), {2000, 50});
    QStringList ventana;
    connect(&registro, &Registro::lineaEscrita, this, [&ventana](const QString& linea) { ventana << linea; });
    for (int i = 0; i < 200; ++i) {
        registro.Escribir(QStringLiteral("Origen denegado: https://otro.example | MODE: PRO %1").arg(i, 3));
    }
    const int escritas = int(ventana.size());
    QVERIFY2(escritas > 10 && escritas < 40, qPrintable(QString::number(escritas)));
    QTRY_COMPARE(ventana.size(), escritas + 1);
    QVERIFY(ventana.last().endsWith(
        QStringLiteral("] ... %1 líneas más sin registrar: el registro de hoy llegó a su tamaño máximo")
            .arg(200 - escritas)));
    // The window and the file hold the same lines, the file no more than its cap and a line or two.
    QCOMPARE(soporte::LineasDelLog(dir.path()), ventana);
    QVERIFY(QFileInfo(registro.ArchivoDelDia(QDate::currentDate())).size() < 2300);
    // Nothing more left out: no more summaries.
    QTest::qWait(150);
    QCOMPARE(ventana.size(), escritas + 1);
}

void TstRegistro::retentionCutOff()
{
    QTemporaryDir dir;
    const auto crear = [&](const QString& nombre, const QDateTime& modificado) {
        const QString ruta = dir.filePath(nombre);
        soporte::EscribirArchivo(ruta, "x");
        FijarModificacion(ruta, modificado);
        return ruta;
    };
    const QDate hoy(2025, 11, 20);
    const QString viejo =
        crear(QStringLiteral("log_2025-11-12.log"), QDateTime(QDate(2025, 11, 12), QTime(23, 59, 59)));
    const QString justo = crear(QStringLiteral("log_2025-11-13.log"), QDateTime(QDate(2025, 11, 13), QTime(0, 0, 0)));
    const QString mayusculas = crear(QStringLiteral("LOG_VIEJO.LOG"), QDateTime(QDate(2025, 1, 1), QTime(0, 0)));
    const QString libre = crear(QStringLiteral("log_x.log"), QDateTime(QDate(2025, 1, 1), QTime(0, 0)));
    const QString nombreViejoReciente =
        crear(QStringLiteral("log_2020-01-01.log"), QDateTime(QDate(2025, 11, 19), QTime(10, 0)));
    const QString notas = crear(QStringLiteral("notas.txt"), QDateTime(QDate(2025, 1, 1), QTime(0, 0)));
    const QString otro = crear(QStringLiteral("log_old.txt"), QDateTime(QDate(2025, 1, 1), QTime(0, 0)));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log_carpeta.log")));

    LimpiarLogsAntiguos(dir.path(), 7, hoy);

    QVERIFY(!QFile::exists(viejo));
    QVERIFY(QFile::exists(justo));
    QVERIFY(!QFile::exists(mayusculas));
    QVERIFY(!QFile::exists(libre));
    QVERIFY(QFile::exists(nombreViejoReciente));
    QVERIFY(QFile::exists(notas));
    QVERIFY(QFile::exists(otro));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("log_carpeta.log"))).isDir());
}

void TstRegistro::retentionRunsOnTheFirstLineAfterTheCutOff()
{
    QTemporaryDir dir;
    qint64 ahora = Local(2025, 11, 19, 23, 59, 58);
    Registro registro(dir.path(), [&ahora] { return ahora; });
    registro.Escribir(QStringLiteral("crea la carpeta"));
    const QString viejo = dir.filePath(QStringLiteral("logs/log_2025-11-12.log"));
    soporte::EscribirArchivo(viejo, "x");
    FijarModificacion(viejo, QDateTime(QDate(2025, 11, 12), QTime(12, 0)));

    ahora += 1500; // still the 19th: within the week
    registro.Escribir(QStringLiteral("todavía no"));
    QVERIFY(QFile::exists(viejo));
    ahora = Local(2025, 11, 20, 0, 0, 0);
    registro.Escribir(QStringLiteral("ahora sí"));
    QVERIFY(!QFile::exists(viejo));
}

QTEST_GUILESS_MAIN(TstRegistro)
#include "tst_registro.moc"
