// The Base64 decoder, whole and piece by piece.
#include "base/base64.h"

#include <QTest>

class TstBase64 final : public QObject
{
    Q_OBJECT

private slots:
    void DecodificarBase64_data();
    void DecodificarBase64();
    void DecodificadorPorPartes_data() { DecodificarBase64_data(); }
    void DecodificadorPorPartes();
};

void TstBase64::DecodificarBase64_data()
{
    QTest::addColumn<QString>("texto");
    QTest::addColumn<bool>("valido");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("tres bytes") << "QUJD" << true << QByteArray("ABC");
    QTest::newRow("con relleno") << "QUI=" << true << QByteArray("AB");
    QTest::newRow("sin relleno") << "QUI" << true << QByteArray("AB");
    QTest::newRow("dos rellenos") << "QQ==" << true << QByteArray("A");
    QTest::newRow("binario") << "AP+A" << true << QByteArray("\x00\xff\x80", 3);
    QTest::newRow("varios grupos") << "QUJDREVGRw==" << true << QByteArray("ABCDEFG");
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

void TstBase64::DecodificarBase64()
{
    QFETCH(QString, texto);
    QFETCH(bool, valido);
    QFETCH(QByteArray, bytes);
    QByteArray salida("sin tocar");
    QCOMPARE(::DecodificarBase64(texto.toUtf8(), salida), valido);
    QCOMPARE(salida, valido ? bytes : QByteArray("sin tocar"));
}

void TstBase64::DecodificadorPorPartes()
{
    QFETCH(QString, texto);
    QFETCH(bool, valido);
    QFETCH(QByteArray, bytes);
    const QByteArray ascii = texto.toUtf8();
    // Whole, then in pieces that split groups and padding every way.
    for (const qsizetype paso : {ascii.size(), qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(5)}) {
        DecodificadorBase64 decodificador;
        qsizetype tomados = 0;
        for (qsizetype n = 0; n < ascii.size() && tomados == n; n += paso) {
            tomados += decodificador.Agregar(QByteArrayView(ascii).sliced(n, std::min(paso, ascii.size() - n)));
        }
        QByteArray salida("sin tocar");
        // What the decoder does not take is not Base64: the whole text fails.
        const bool aceptado = tomados == ascii.size() && decodificador.Terminar(salida);
        QCOMPARE(aceptado, valido);
        QCOMPARE(salida, valido ? bytes : QByteArray("sin tocar"));
    }
}

QTEST_GUILESS_MAIN(TstBase64)
#include "tst_base64.moc"
