// Request bodies: the JSON reader and the Base64 file writer.
#include "handoff/base64.h"
#include "handoff/cuerpo_json.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray Leer(const QString& ruta)
{
    QFile archivo(ruta);
    return archivo.open(QIODevice::ReadOnly) ? archivo.readAll() : QByteArray();
}

bool Escribir(const QString& ruta, const QByteArray& bytes)
{
    QFile archivo(ruta);
    return archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) && archivo.write(bytes) == bytes.size();
}

} // namespace

class TstDocumentos final : public QObject
{
    Q_OBJECT

private slots:
    void ParsearJSON_data();
    void ParsearJSON();
    void LeerTexto_data();
    void LeerTexto();
    void DecodificarBase64_data();
    void DecodificarBase64();
    void GuardaExactamenteLosBytes();
    void ReemplazaUnArchivoMasLargo();
    void Base64InvalidoNoTocaElArchivo();
    void CarpetaInexistente();
};

void TstDocumentos::ParsearJSON_data()
{
    QTest::addColumn<QString>("cuerpo");
    QTest::addColumn<bool>("esObjeto");
    QTest::newRow("vacío") << "" << false;
    QTest::newRow("solo espacios") << "  \r\n" << false;
    QTest::newRow("número") << "42" << false;
    QTest::newRow("texto") << "\"hola\"" << false;
    QTest::newRow("true") << "true" << false;
    QTest::newRow("false") << "false" << false;
    QTest::newRow("null") << "null" << false;
    QTest::newRow("arreglo") << "[{\"base64\":\"QUJD\"}]" << false;
    QTest::newRow("llave sin cerrar") << "{\"base64\":\"QUJD\"" << false;
    QTest::newRow("falta una coma") << "{\"base64\":\"QUJD\" \"nombreArchivo\":\"a.csv\"}" << false;
    QTest::newRow("basura detrás") << "{\"base64\":\"QUJD\"} x" << false;
    QTest::newRow("claves sin comillas") << "{base64:\"QUJD\"}" << false;
    QTest::newRow("objeto vacío") << "{}" << true;
    QTest::newRow("con espacios alrededor") << " \r\n{\"base64\":\"QUJD\"}\r\n" << true;
}

void TstDocumentos::ParsearJSON()
{
    QFETCH(QString, cuerpo);
    QFETCH(bool, esObjeto);
    QCOMPARE(::ParsearJSON(cuerpo).has_value(), esObjeto);
}

void TstDocumentos::LeerTexto_data()
{
    QTest::addColumn<QString>("valor"); // JSON text of the member's value; empty for a missing member
    QTest::addColumn<QString>("texto");
    QTest::newRow("texto simple") << "\"Caja\""
                                  << "Caja";
    QTest::newRow("comilla escapada") << "\"Co\\\"mi\""
                                      << "Co\"mi";
    QTest::newRow("barra invertida") << "\"\\\\\\\\servidor\\\\Caja\""
                                     << "\\\\servidor\\Caja";
    QTest::newRow("escapes unicode y control") << "\"Impresi\\u00f3n\\n\\t\"" << QString::fromUtf8("Impresión\n\t");
    QTest::newRow("barra escapada") << "\"a\\/b\""
                                    << "a/b";
    QTest::newRow("acentos tal cual") << QString::fromUtf8("\"ñandú.csv\"") << QString::fromUtf8("ñandú.csv");
    QTest::newRow("entero") << "12"
                            << "12";
    QTest::newRow("decimal") << "2.5"
                             << "2.5";
    QTest::newRow("true") << "true"
                          << "true";
    QTest::newRow("null") << "null"
                          << "";
    QTest::newRow("objeto") << "{\"a\":1}"
                            << "";
    QTest::newRow("arreglo") << "[1]"
                             << "";
    QTest::newRow("ausente") << ""
                             << "";
}

void TstDocumentos::LeerTexto()
{
    QFETCH(QString, valor);
    QFETCH(QString, texto);
    const QString cuerpo = valor.isEmpty() ? QStringLiteral("{\"otro\":1}")
                                           : QStringLiteral("{\"nombreImpresora\":%1,\"otro\":1}").arg(valor);
    const auto objeto = ::ParsearJSON(cuerpo);
    QVERIFY(objeto.has_value());
    QCOMPARE(::LeerTexto(*objeto, QStringLiteral("nombreImpresora")), texto);
}

void TstDocumentos::DecodificarBase64_data()
{
    QTest::addColumn<QString>("texto");
    QTest::addColumn<bool>("valido");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("tres bytes") << "QUJD" << true << QByteArray("ABC");
    QTest::newRow("con relleno") << "QUI=" << true << QByteArray("AB");
    QTest::newRow("sin relleno") << "QUI" << true << QByteArray("AB");
    QTest::newRow("dos rellenos") << "QQ==" << true << QByteArray("A");
    QTest::newRow("binario") << "AP+A" << true << QByteArray("\x00\xff\x80", 3);
    QTest::newRow("vacío") << "" << false << QByteArray();
    QTest::newRow("salto de línea") << "QUJD\nQUJD" << false << QByteArray();
    QTest::newRow("espacio") << "QU JD" << false << QByteArray();
    QTest::newRow("prefijo data-URL") << "data:application/pdf;base64,QUJD" << false << QByteArray();
    QTest::newRow("fuera del alfabeto") << "QUJ*" << false << QByteArray();
    QTest::newRow("alfabeto URL") << "QU_-" << false << QByteArray();
    QTest::newRow("relleno en medio") << "QU=D" << false << QByteArray();
    QTest::newRow("relleno de más") << "QUJD=" << false << QByteArray();
    QTest::newRow("un carácter suelto") << "QUJDR" << false << QByteArray();
    QTest::newRow("no ASCII") << QString::fromUtf8("QUJDé") << false << QByteArray();
}

void TstDocumentos::DecodificarBase64()
{
    QFETCH(QString, texto);
    QFETCH(bool, valido);
    QFETCH(QByteArray, bytes);
    QByteArray salida("sin tocar");
    QCOMPARE(::DecodificarBase64(texto, salida), valido);
    QCOMPARE(salida, valido ? bytes : QByteArray("sin tocar"));
}

void TstDocumentos::GuardaExactamenteLosBytes()
{
    QTemporaryDir carpeta;
    QByteArray todos;
    for (int b = 0; b < 256; ++b) {
        todos.append(static_cast<char>(b));
    }
    todos.append("\r\n\n\r");
    const QString ruta = carpeta.filePath(QStringLiteral("a.bin"));
    QVERIFY(GuardarBase64(QString::fromLatin1(todos.toBase64()), ruta));
    QCOMPARE(Leer(ruta), todos);

    QVERIFY(GuardarBase64(QStringLiteral("QUJD"), ruta));
    QCOMPARE(QFileInfo(ruta).size(), 3);
}

void TstDocumentos::ReemplazaUnArchivoMasLargo()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("datos.csv"));
    QVERIFY(Escribir(ruta, QByteArray(5000, 'x')));
    QVERIFY(GuardarBase64(QString::fromLatin1(QByteArray("a;b\r\n").toBase64()), ruta));
    QCOMPARE(Leer(ruta), QByteArray("a;b\r\n"));
}

void TstDocumentos::Base64InvalidoNoTocaElArchivo()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("archivo_recibido.pdf"));
    QVERIFY(Escribir(ruta, "%PDF-anterior"));
    QVERIFY(!GuardarBase64(QStringLiteral("JVBERi0*"), ruta));
    QVERIFY(!GuardarBase64(QString(), ruta));
    QCOMPARE(Leer(ruta), QByteArray("%PDF-anterior"));
    // Nothing half-written stays behind either.
    QCOMPARE(QDir(carpeta.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"archivo_recibido.pdf"});

    QVERIFY(!GuardarBase64(QStringLiteral("QUJD"), carpeta.filePath(QStringLiteral("nuevo.csv/"))));
}

void TstDocumentos::CarpetaInexistente()
{
    QTemporaryDir carpeta;
    const QString ruta = carpeta.filePath(QStringLiteral("no/existe/a.csv"));
    QVERIFY(!GuardarBase64(QStringLiteral("QUJD"), ruta));
    QVERIFY(!QFileInfo::exists(carpeta.filePath(QStringLiteral("no"))));
    // A folder where the file should be cannot be replaced.
    QVERIFY(QDir(carpeta.path()).mkdir(QStringLiteral("carpeta.csv")));
    QVERIFY(!GuardarBase64(QStringLiteral("QUJD"), carpeta.filePath(QStringLiteral("carpeta.csv"))));
    QVERIFY(QFileInfo(carpeta.filePath(QStringLiteral("carpeta.csv"))).isDir());
}

QTEST_GUILESS_MAIN(TstDocumentos)
#include "tst_documentos.moc"
