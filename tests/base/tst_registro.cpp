// The activity log and its retention.
#include "base/registro.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

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

// The file stays open between lines; whatever others do to it shows at the next look, a second later at most, or at
// once when the count says the day's cap is reached. Each row: what is done to the file after the first line, the
// cap, how long until the next line, and what the file holds then.
void ColumnasDeCambio()
{
    QTest::addColumn<QString>("cambio");
    QTest::addColumn<qint64>("tope");
    QTest::addColumn<int>("msDespues");
    QTest::addColumn<QByteArray>("queda");
}

const QByteArray kAntes = "[2025-11-20 10:00:00] antes\r\n";
const QByteArray kDespues = "[2025-11-20 10:00:01] despu\xc3\xa9s\r\n";

} // namespace

class TstRegistro final : public QObject
{
    Q_OBJECT

private slots:
    void logLineFormatAndFile();
    void logCreatesFolderAndSurvivesAFileNamedLogs();
    void logDayChangeStartsNewFile_data();
    void logDayChangeStartsNewFile();
    void logStopsAtItsDailyCapAndSummarises();
    void logFollowsWhatOthersDoToTheFile_data();
    void logFollowsWhatOthersDoToTheFile();
    void logFollowsAFileRemovedOrReplaced_data();
    void logFollowsAFileRemovedOrReplaced() { logFollowsWhatOthersDoToTheFile(); }
    void logKeepsLinesWholeWhenTheDiskFills();
    void logWaitsOutAReadOnlyFolder();
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

void TstRegistro::logDayChangeStartsNewFile_data()
{
    QTest::addColumn<bool>("enLote");
    QTest::newRow("cada línea") << false;
    QTest::newRow("en un lote") << true; // the day's change puts what waits in the day that ends
}

void TstRegistro::logDayChangeStartsNewFile()
{
    QFETCH(bool, enLote);
    QTemporaryDir dir;
    qint64 ahora = Local(2025, 11, 20, 23, 59, 59);
    Registro registro(dir.path(), [&ahora] { return ahora; });
    InstalarRegistro(&registro);
    std::optional<LoteRegistro> lote;
    if (enLote) {
        lote.emplace();
    }
    EscribirLog(QStringLiteral("antes"));
    ahora = Local(2025, 11, 21, 0, 0, 0);
    EscribirLog(QStringLiteral("después"));
    if (lote) {
        QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-21.log"))), QByteArray());
        lote.reset();
    }
    InstalarRegistro(nullptr);
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-20.log"))),
             QByteArray("[2025-11-20 23:59:59] antes\r\n"));
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-21.log"))),
             QByteArray("[2025-11-21 00:00:00] despu\xc3\xa9s\r\n"));
    // Yesterday's file is let go: retention removes it one day, and on Windows a file still held open would only be
    // marked for deletion.
    const QString ayer = dir.filePath(QStringLiteral("logs/log_2025-11-20.log"));
    QVERIFY(QFile::remove(ayer));
    QVERIFY(QDir(dir.filePath(QStringLiteral("logs"))).entryList(QDir::Files | QDir::Hidden | QDir::System) ==
            QStringList{QStringLiteral("log_2025-11-21.log")});
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

void TstRegistro::logFollowsWhatOthersDoToTheFile_data()
{
    ColumnasDeCambio();
    const qint64 sinTope = TopeRegistro().bytes;
    QTest::newRow("renombrado") << "renombrar" << sinTope << 1000 << kDespues;
    QTest::newRow("vaciado") << "vaciar" << sinTope << 1000 << kDespues;
    QTest::newRow("escrito por otro") << "anexar" << sinTope << 1000 << kAntes + "otro\r\n" + kDespues;
    QTest::newRow("vaciado con el tope alcanzado")
        << "vaciar" << qint64(kAntes.size()) << 0 << QByteArray("[2025-11-20 10:00:00] despu\xc3\xa9s\r\n");
}

void TstRegistro::logFollowsAFileRemovedOrReplaced_data()
{
    ColumnasDeCambio();
    const qint64 sinTope = TopeRegistro().bytes;
    QTest::newRow("borrado") << "borrar" << sinTope << 1000 << kDespues;
    QTest::newRow("reemplazado") << "reemplazar" << sinTope << 1000 << "otro\r\n" + kDespues;
}

void TstRegistro::logFollowsWhatOthersDoToTheFile()
{
    QFETCH(QString, cambio);
    QFETCH(qint64, tope);
    QFETCH(int, msDespues);
    QFETCH(QByteArray, queda);
    QTemporaryDir dir;
    qint64 ahora = Local(2025, 11, 20, 10, 0, 0);
    Registro registro(dir.path(), [&ahora] { return ahora; }, {tope, 60 * 1000});
    QStringList ventana;
    connect(&registro, &Registro::lineaEscrita, this, [&ventana](const QString& linea) { ventana << linea; });
    registro.Escribir(QStringLiteral("antes"));
    const QString ruta = dir.filePath(QStringLiteral("logs/log_2025-11-20.log"));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("[2025-11-20 10:00:00] antes\r\n"));

    if (cambio == QLatin1String("borrar")) {
        QVERIFY(QFile::remove(ruta));
    } else if (cambio == QLatin1String("renombrar")) {
        QVERIFY(QFile::rename(ruta, ruta + QStringLiteral(".1")));
    } else if (cambio == QLatin1String("reemplazar")) {
        QSaveFile otro(ruta);
        QVERIFY(otro.open(QIODevice::WriteOnly));
        otro.write("otro\r\n");
        QVERIFY(otro.commit());
    } else if (cambio == QLatin1String("vaciar")) {
        QVERIFY(QFile::resize(ruta, 0));
    } else {
        QFile otro(ruta);
        QVERIFY(otro.open(QIODevice::WriteOnly | QIODevice::Append));
        otro.write("otro\r\n");
    }
    ahora += msDespues;
    registro.Escribir(QStringLiteral("después"));
    QCOMPARE(ventana.size(), 2);
    QCOMPARE(soporte::LeerArchivo(ruta), queda);
    if (cambio == QLatin1String("renombrar")) {
        QCOMPARE(soporte::LeerArchivo(ruta + QStringLiteral(".1")), QByteArray("[2025-11-20 10:00:00] antes\r\n"));
    }
}

void TstRegistro::logKeepsLinesWholeWhenTheDiskFills()
{
    soporte::DiscoPequeno disco;
    if (!disco.Montado()) {
        QSKIP("mounting a small file system takes root");
    }
    const qint64 ahora = Local(2025, 11, 20, 10, 0, 0);
    Registro registro(disco.Ruta(), [ahora] { return ahora; });
    QStringList ventana;
    connect(&registro, &Registro::lineaEscrita, this, [&ventana](const QString& linea) { ventana << linea; });
    registro.Escribir(QStringLiteral("antes"));
    QVERIFY(disco.Llenar(0));
    for (int i = 0; i < 300; ++i) {
        registro.Escribir(QStringLiteral("línea %1 ").arg(i) + QString(80, u'x'));
    }
    QVERIFY(QFile::remove(disco.Ruta() + QStringLiteral("/.relleno")));
    registro.Escribir(QStringLiteral("después"));

    QCOMPARE(ventana.size(), 302);
    const QByteArray contenido = soporte::LeerArchivo(disco.Ruta() + QStringLiteral("/logs/log_2025-11-20.log"));
    QVERIFY(contenido.endsWith("\r\n"));
    const QStringList archivo = QString::fromUtf8(contenido.chopped(2)).split(QStringLiteral("\r\n"));
    // Lines were lost while the disk was full, but each line in the file is one the window showed, whole, in order.
    QVERIFY2(archivo.size() < ventana.size(), qPrintable(QString::number(archivo.size())));
    QCOMPARE(archivo.first(), ventana.first());
    QCOMPARE(archivo.last(), ventana.last());
    qsizetype siguiente = 0;
    for (const QString& linea : archivo) {
        siguiente = ventana.indexOf(linea, siguiente);
        QVERIFY2(siguiente >= 0, qPrintable(linea));
        ++siguiente;
    }
}

void TstRegistro::logWaitsOutAReadOnlyFolder()
{
    QTemporaryDir dir;
    qint64 ahora = Local(2025, 11, 20, 10, 0, 0);
    Registro registro(dir.path(), [&ahora] { return ahora; });
    QStringList ventana;
    connect(&registro, &Registro::lineaEscrita, this, [&ventana](const QString& linea) { ventana << linea; });
    registro.Escribir(QStringLiteral("antes"));
    {
        // The folder as the agent sees it once the open file is let go: nothing there, and nothing can be made.
        soporte::CarpetaSoloLectura soloLectura(dir.filePath(QStringLiteral("logs")));
        if (!soloLectura.Montado()) {
            QSKIP("mounting a read-only folder takes root");
        }
        ahora += 1000;
        registro.Escribir(QStringLiteral("perdida"));
        ahora += 1000;
        registro.Escribir(QStringLiteral("también"));
    }
    ahora += 1000;
    registro.Escribir(QStringLiteral("después"));
    QCOMPARE(ventana.size(), 4);
    QCOMPARE(soporte::LeerArchivo(dir.filePath(QStringLiteral("logs/log_2025-11-20.log"))),
             QByteArray("[2025-11-20 10:00:00] antes\r\n[2025-11-20 10:00:03] despu\xc3\xa9s\r\n"));
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
