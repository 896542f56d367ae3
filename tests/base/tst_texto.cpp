// Text conversions: decoding received bytes, escaping for JSON.
#include "base/texto.h"

#include <QTest>

class TstTexto final : public QObject
{
    Q_OBJECT

private slots:
    void decodingFallsBackToWindows1252();
    void jsonEscaping_data();
    void jsonEscaping();
};

void TstTexto::decodingFallsBackToWindows1252()
{
    QCOMPARE(DecodificarTexto("v\xc3\xa1lida"), QStringLiteral("válida"));
    QCOMPARE(DecodificarTexto("v\xe1lida \x80 \x93x\x94"), QStringLiteral("válida € “x”"));
    QCOMPARE(DecodificarTexto(QByteArray("a\0b", 3)), QString(QStringLiteral("a")) + QChar(0) + u'b');
}

void TstTexto::jsonEscaping_data()
{
    QTest::addColumn<QString>("texto");
    QTest::addColumn<QString>("escapado");
    QTest::newRow("plain and accents") << "Impresora Depósito"
                                       << "Impresora Depósito";
    QTest::newRow("quote") << "Caja \"1\""
                           << "Caja \\\"1\\\"";
    QTest::newRow("network share") << "\\\\srv\\caja"
                                   << "\\\\\\\\srv\\\\caja";
    QTest::newRow("controls") << QStringLiteral("a\tb\nc\x01") << "a\\tb\\nc\\u0001";
}

void TstTexto::jsonEscaping()
{
    QFETCH(QString, texto);
    QFETCH(QString, escapado);
    QCOMPARE(EscaparJSON(texto), escapado);
}

QTEST_GUILESS_MAIN(TstTexto)
#include "tst_texto.moc"
