// JSON request bodies: the parser, member reading, and the reader that decodes a document while it arrives.
#include "base/base64.h"
#include "base/json.h"
#include "base/lector_base64_json.h"

#include <QRandomGenerator>
#include <QTest>

class TstJson final : public QObject
{
    Q_OBJECT

private slots:
    void ParsearJSON_data();
    void ParsearJSON();
    void LeerTexto_data();
    void LeerTexto();
    void LectorComoLeerTodo_data();
    void LectorComoLeerTodo();
    void LectorEnTrozosDesiguales();
};

void TstJson::ParsearJSON_data()
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

void TstJson::ParsearJSON()
{
    QFETCH(QString, cuerpo);
    QFETCH(bool, esObjeto);
    QCOMPARE(::ParsearJSON(cuerpo.toUtf8()).has_value(), esObjeto);
}

void TstJson::LeerTexto_data()
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

void TstJson::LeerTexto()
{
    QFETCH(QString, valor);
    QFETCH(QString, texto);
    const QString cuerpo = valor.isEmpty() ? QStringLiteral("{\"otro\":1}")
                                           : QStringLiteral("{\"nombreImpresora\":%1,\"otro\":1}").arg(valor);
    const auto objeto = ::ParsearJSON(cuerpo.toUtf8());
    QVERIFY(objeto.has_value());
    QCOMPARE(::LeerTexto(*objeto, QStringLiteral("nombreImpresora")), texto);
}

void TstJson::LectorComoLeerTodo_data()
{
    QTest::addColumn<QByteArray>("cuerpo");
    QTest::addColumn<bool>("alVuelo"); // the reader takes its fast way rather than falling back to the parser

    const QByteArray largo = [] {
        QByteArray bytes;
        for (int i = 0; i < 3001; ++i) {
            bytes.append(static_cast<char>(i * 7 + i / 256));
        }
        return bytes.toBase64();
    }();
    QTest::newRow("simple") << QByteArray("{\"base64\":\"QUJD\",\"nombre\":\"Caja\"}") << true;
    QTest::newRow("nombre primero") << QByteArray("{\"nombre\":\"Caja\",\"base64\":\"QUJDRA==\"}") << true;
    QTest::newRow("largo") << "{\"base64\":\"" + largo + "\",\"nombre\":\"Caja\"}" << true;
    QTest::newRow("largo sin relleno") << "{\"base64\":\"" + largo.chopped(2) + "\"}" << true;
    QTest::newRow("un relleno") << QByteArray("{\"base64\":\"QUI=\"}") << true;
    QTest::newRow("sin relleno") << QByteArray("{\"base64\":\"QUI\"}") << true;
    QTest::newRow("relleno tras grupo entero") << QByteArray("{\"base64\":\"QUJD=\"}") << true;
    QTest::newRow("tres rellenos") << QByteArray("{\"base64\":\"QQ===\"}") << true;
    QTest::newRow("carácter suelto") << QByteArray("{\"base64\":\"QUJDR\"}") << true;
    QTest::newRow("solo relleno") << QByteArray("{\"base64\":\"==\"}") << true;
    QTest::newRow("texto vacío") << QByteArray("{\"base64\":\"\",\"nombre\":\"x\"}") << true;
    QTest::newRow("espacios") << QByteArray(" \r\n{ \"base64\" :\t\"QUJD\" }\r\n") << true;
    QTest::newRow("acentos fuera") << QByteArray("{\"nombre\":\"Impresi\xc3\xb3n\",\"base64\":\"QUJD\"}") << true;
    QTest::newRow("tras número") << QByteArray("{\"a\":1,\"base64\":\"QUJD\"}") << true;
    QTest::newRow("tras anidados") << QByteArray("{\"a\":[1,{\"b\":\"}\"}],\"base64\":\"QUJD\"}") << true;
    QTest::newRow("barra escapada antes") << QByteArray("{\"a\":\"\\\\\",\"base64\":\"QUJD\"}") << true;
    QTest::newRow("anidado y propio") << QByteArray("{\"x\":{\"base64\":\"QUJD\"},\"base64\":\"QUI=\"}") << true;
    QTest::newRow("clave más larga") << QByteArray("{\"base64x\":\"QUJD\",\"base64\":\"QQ==\"}") << true;
    QTest::newRow("sin cerrar") << QByteArray("{\"base64\":\"QUJD\"") << false;
    QTest::newRow("falta una coma") << QByteArray("{\"base64\":\"QUJD\" \"nombre\":\"a\"}") << false;
    QTest::newRow("basura detrás") << QByteArray("{\"base64\":\"QUJD\"} x") << false;
    QTest::newRow("UTF-8 inválido fuera") << QByteArray("{\"nombre\":\"\xff\",\"base64\":\"QUJD\"}") << false;

    // Each of these leaves the fast way; the outcome must still be the parser's.
    QTest::newRow("barra escapada dentro") << QByteArray("{\"base64\":\"QU\\/D\"}") << false;
    QTest::newRow("escape unicode dentro") << QByteArray("{\"base64\":\"\\u0051UJD\"}") << false;
    QTest::newRow("espacio dentro") << QByteArray("{\"base64\":\"QU JD\"}") << false;
    QTest::newRow("relleno en medio") << QByteArray("{\"base64\":\"QU=D\"}") << false;
    QTest::newRow("no ASCII dentro") << QByteArray("{\"base64\":\"QUJ\xc3\xa9\"}") << false;
    QTest::newRow("texto sin cerrar") << QByteArray("{\"base64\":\"QUJD") << false;
    QTest::newRow("número") << QByteArray("{\"base64\":123}") << false;
    QTest::newRow("null") << QByteArray("{\"base64\":null}") << false;
    QTest::newRow("solo anidado") << QByteArray("{\"x\":{\"base64\":\"QUJD\"}}") << false;
    QTest::newRow("clave repetida") << QByteArray("{\"base64\":\"QUJD\",\"base64\":\"QUI=\"}") << false;
    QTest::newRow("repetida con número") << QByteArray("{\"base64\":\"QUJD\",\"base64\":1}") << false;
    QTest::newRow("clave con escapes") << QByteArray("{\"base\\u0036\\u0034\":\"QUJD\"}") << false;
    QTest::newRow("clave con escapes después")
        << QByteArray("{\"base64\":\"QUJD\",\"ba\\u0073e64\":\"QUI=\"}") << false;
    QTest::newRow("raíz arreglo") << QByteArray("[{\"base64\":\"QUJD\"}]") << false;
    QTest::newRow("marca de orden de bytes") << QByteArray("\xef\xbb\xbf{\"base64\":\"QUJD\"}") << false;
    QTest::newRow("como valor de otra clave") << QByteArray("{\"a\":\"base64\",\"b\":\"QUJD\"}") << false;
}

void TstJson::LectorComoLeerTodo()
{
    QFETCH(QByteArray, cuerpo);
    QFETCH(bool, alVuelo);
    // What the endpoints did before the reader existed.
    const std::optional<QJsonObject> esperado = ::ParsearJSON(cuerpo);
    QByteArray bytesEsperados;
    const bool validoEsperado =
        esperado && ::DecodificarBase64(::LeerTexto(*esperado, QStringLiteral("base64")).toUtf8(), bytesEsperados);

    // All at once, then fed as it would arrive, in pieces of every size up to a few bytes and in larger ones.
    for (const qsizetype paso : {qsizetype(0), qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(5), qsizetype(64)}) {
        LectorBase64JSON lector(QByteArrayLiteral("base64"));
        for (qsizetype n = paso; paso > 0 && n < cuerpo.size(); n += paso) {
            lector.Avanzar(QByteArrayView(cuerpo).first(n));
        }
        const std::optional<QJsonObject> objeto = lector.Terminar(cuerpo);
        QCOMPARE(objeto.has_value(), esperado.has_value());
        if (!objeto) {
            continue;
        }
        QCOMPARE(::LeerTexto(*objeto, QStringLiteral("nombre")), ::LeerTexto(*esperado, QStringLiteral("nombre")));
        QByteArray bytes("sin tocar");
        QCOMPARE(lector.TomarBase64(*objeto, bytes), validoEsperado);
        QCOMPARE(bytes, validoEsperado ? bytesEsperados : QByteArray("sin tocar"));
        QCOMPARE(lector.DecodificadoAlVuelo(), alVuelo);
    }
}

void TstJson::LectorEnTrozosDesiguales()
{
    // A document of some hundred kilobytes arriving in pieces of any size, as a socket delivers them.
    QRandomGenerator azar(20261208);
    QByteArray documento(300001, Qt::Uninitialized);
    for (char& c : documento) {
        c = static_cast<char>(azar.bounded(256));
    }
    for (const QByteArray& base64 : {documento.toBase64(), documento.toBase64(QByteArray::OmitTrailingEquals)}) {
        const QByteArray cuerpo = "{\"nombre\":\"Caja\",\"base64\":\"" + base64 + "\"}";
        for (int vuelta = 0; vuelta < 20; ++vuelta) {
            LectorBase64JSON lector(QByteArrayLiteral("base64"));
            qsizetype recibido = 0;
            while (recibido < cuerpo.size()) {
                recibido = std::min(cuerpo.size(), recibido + 1 + azar.bounded(vuelta < 10 ? 9 : 70000));
                lector.Avanzar(QByteArrayView(cuerpo).first(recibido));
            }
            const std::optional<QJsonObject> objeto = lector.Terminar(cuerpo);
            QVERIFY(objeto.has_value());
            QVERIFY(lector.DecodificadoAlVuelo());
            QByteArray bytes;
            QVERIFY(lector.TomarBase64(*objeto, bytes));
            QVERIFY(bytes == documento);
        }
    }
}

QTEST_GUILESS_MAIN(TstJson)
#include "tst_json.moc"
