// Writing received documents to files.
#include "base/archivos.h"
#include "base/base64.h"
#include "support/soporte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What both endpoints do with a document: decode it, then save it, nothing written when either fails.
bool DecodificarYGuardar(QByteArrayView texto, const QString& ruta)
{
    QByteArray bytes;
    return DecodificarBase64(texto, bytes) && GuardarBytes(bytes, ruta);
}

} // namespace

class TstArchivos final : public QObject
{
    Q_OBJECT

private slots:
    void GuardaExactamenteLosBytes();
    void ReemplazaUnArchivoMasLargo();
    void Base64InvalidoNoTocaElArchivo();
    void CarpetaInexistente();
    void ArchivoNuevoNoPisaNada();
};

void TstArchivos::GuardaExactamenteLosBytes()
{
    QTemporaryDir carpeta;
    QByteArray todos;
    for (int b = 0; b < 256; ++b) {
        todos.append(static_cast<char>(b));
    }
    todos.append("\r\n\n\r");
    const QString ruta = carpeta.filePath(QStringLiteral("a.bin"));
    QVERIFY(DecodificarYGuardar(todos.toBase64(), ruta));
    QCOMPARE(soporte::LeerArchivo(ruta), todos);

    QVERIFY(DecodificarYGuardar("QUJD", ruta));
    QCOMPARE(QFileInfo(ruta).size(), 3);
}

void TstArchivos::ReemplazaUnArchivoMasLargo()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("datos.csv"));
    QVERIFY(soporte::EscribirArchivo(ruta, QByteArray(5000, 'x')));
    QVERIFY(DecodificarYGuardar(QByteArray("a;b\r\n").toBase64(), ruta));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("a;b\r\n"));
}

void TstArchivos::Base64InvalidoNoTocaElArchivo()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("archivo_recibido.pdf"));
    QVERIFY(soporte::EscribirArchivo(ruta, "%PDF-anterior"));
    QVERIFY(!DecodificarYGuardar("JVBERi0*", ruta));
    QVERIFY(!DecodificarYGuardar(QByteArrayView(), ruta));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("%PDF-anterior"));
    // Nothing half-written stays behind either.
    QCOMPARE(QDir(carpeta.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"archivo_recibido.pdf"});

    QVERIFY(!DecodificarYGuardar("QUJD", carpeta.filePath(QStringLiteral("nuevo.csv/"))));
}

void TstArchivos::CarpetaInexistente()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("no/existe/a.csv"));
    QVERIFY(!DecodificarYGuardar("QUJD", ruta));
    QVERIFY(!QFileInfo::exists(carpeta.filePath(QStringLiteral("no"))));
    // A folder where the file should be cannot be replaced.
    QVERIFY(QDir(carpeta.path()).mkdir(QStringLiteral("carpeta.csv")));
    QVERIFY(!DecodificarYGuardar("QUJD", carpeta.filePath(QStringLiteral("carpeta.csv"))));
    QVERIFY(QFileInfo(carpeta.filePath(QStringLiteral("carpeta.csv"))).isDir());
}

void TstArchivos::ArchivoNuevoNoPisaNada()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("a.pdf"));
    QVERIFY(EscribirArchivoNuevo("%PDF uno", ruta));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("%PDF uno"));
    QVERIFY(!EscribirArchivoNuevo("%PDF dos", ruta));
    QCOMPARE(soporte::LeerArchivo(ruta), QByteArray("%PDF uno"));
    QVERIFY(!EscribirArchivoNuevo("%PDF", carpeta.filePath(QStringLiteral("no/existe.pdf"))));
    QCOMPARE(QDir(carpeta.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.pdf"});
}

QTEST_GUILESS_MAIN(TstArchivos)
#include "tst_archivos.moc"
