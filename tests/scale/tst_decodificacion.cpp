#include "scale/decodificacion.h"
#include "scale/dispositivo_serie.h"
#include "scale/protocolos.h"

#include <QLocale>
#include <QTest>

#include <clocale>

class TestDecodificacion final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QLocale::setDefault(QLocale::c());
        std::setlocale(LC_ALL, "C");
    }

    void decodifica_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QString>("datos");
        QTest::addColumn<QString>("esperado");

        // Worked examples.
        QTest::newRow("systel1 milesimas") << "SYSTEL1"
                                           << "012345"
                                           << "12.345";
        QTest::newRow("systel3 espacio delante") << "SYSTEL3"
                                                 << " 1500"
                                                 << "1.500";
        QTest::newRow("systel2 nada llegó") << "SYSTEL2"
                                            << ""
                                            << "0.000";
        QTest::newRow("coma termina el número") << "SYSTEL1"
                                                << "12,5"
                                                << "0.012";
        QTest::newRow("espacios dentro ignorados") << "SYSTEL1"
                                                   << "1 2 3 4"
                                                   << "1.234";
        QTest::newRow("kretz posiciones 2 a 7") << "KRETZ"
                                                << "X012.50kg"
                                                << "012.50";
        QTest::newRow("kretz coma sin cambiar") << "KRETZ"
                                                << "X012,50kg"
                                                << "012,50";
        QTest::newRow("kretz solo un carácter") << "KRETZ"
                                                << "P"
                                                << "";
        QTest::newRow("100kg centesimas") << "BAL100KG"
                                          << "12345"
                                          << "123.45";
        QTest::newRow("100kg relleno a tres enteros") << "BAL100KG"
                                                      << "5"
                                                      << "000.05";
        QTest::newRow("100kg más de tres enteros") << "BAL100KG"
                                                   << "250000"
                                                   << "2500.00";
        QTest::newRow("otro recorta espacios") << "Libre"
                                               << "  12.5 kg "
                                               << "12.5 kg";

        // The number is read first for every protocol: too large is a failure whatever the rule.
        QTest::newRow("9E999 systel") << "SYSTEL1"
                                      << "9E999"
                                      << "ERR";
        QTest::newRow("9E999 kretz") << "KRETZ"
                                     << "9E999"
                                     << "ERR";
        QTest::newRow("9E999 100kg") << "X100KG"
                                     << "9E999"
                                     << "ERR";
        QTest::newRow("9E999 otro") << "Libre"
                                    << "9E999"
                                    << "ERR";
        QTest::newRow("exponente enorme con espacios") << "SYSTEL1"
                                                       << "1 e 4 0 0"
                                                       << "ERR";
        QTest::newRow("muy pequeño es cero") << "SYSTEL1"
                                             << "1E-999"
                                             << "0.000";
        QTest::newRow("ceros con exponente enorme") << "SYSTEL1"
                                                    << "0.000E999"
                                                    << "0.000";

        // Leading-number rule.
        QTest::newRow("nada numérico") << "SYSTEL1"
                                       << "ST,GS"
                                       << "0.000";
        QTest::newRow("negativo") << "SYSTEL1"
                                  << "-500"
                                  << "-0.500";
        QTest::newRow("signo más") << "SYSTEL1"
                                   << "+2000"
                                   << "2.000";
        QTest::newRow("solo signo") << "SYSTEL1"
                                    << "-"
                                    << "0.000";
        QTest::newRow("menos cero sin signo") << "SYSTEL1"
                                              << "-0"
                                              << "0.000";
        QTest::newRow("negativo que redondea a cero") << "SYSTEL1"
                                                      << "-0.4"
                                                      << "0.000";
        QTest::newRow("tab y salto de línea ignorados") << "SYSTEL1"
                                                        << "\t0\n12345"
                                                        << "12.345";
        QTest::newRow("retorno de carro termina") << "SYSTEL1"
                                                  << "12\r345"
                                                  << "0.012";
        QTest::newRow("retorno final") << "SYSTEL1"
                                       << "00012345\r"
                                       << "12.345";
        QTest::newRow("exponente") << "SYSTEL1"
                                   << "1.5E3"
                                   << "1.500";
        QTest::newRow("exponente minúscula") << "SYSTEL1"
                                             << "2e3"
                                             << "2.000";
        QTest::newRow("exponente negativo") << "SYSTEL1"
                                            << "1500E-1"
                                            << "0.150";
        QTest::newRow("segunda e termina") << "SYSTEL1"
                                           << "5E+6e-3"
                                           << "5000.000";
        QTest::newRow("exponente sin dígitos") << "SYSTEL1"
                                               << "7e"
                                               << "0.007";
        QTest::newRow("E sin mantisa") << "SYSTEL1"
                                       << "E5"
                                       << "0.000";
        QTest::newRow("segundo punto termina") << "SYSTEL1"
                                               << "1.2.3"
                                               << "0.001";
        QTest::newRow("punto inicial") << "SYSTEL1"
                                       << ".5E4"
                                       << "5.000";
        QTest::newRow("redondeo al más cercano") << "SYSTEL1"
                                                 << "1234.6"
                                                 << "1.235";
        QTest::newRow("ocho dígitos") << "SYSTEL1"
                                      << "99999999"
                                      << "99999.999";
        QTest::newRow("100kg negativo") << "BAL100KG"
                                        << "-5"
                                        << "-000.05";
        QTest::newRow("100kg vacío") << "BAL100KG"
                                     << ""
                                     << "000.00";
        QTest::newRow("100kg coma") << "BAL100KG"
                                    << "12,34"
                                    << "000.12";
        QTest::newRow("100kg redondeo") << "BAL100KG"
                                        << "12345.6"
                                        << "123.46";

        // Rules look at the upper-cased name only, first match wins.
        QTest::newRow("systel minúsculas") << "systel3"
                                           << "0001500"
                                           << "1.500";
        QTest::newRow("cualquier systel") << "SYSTEL9"
                                          << "42"
                                          << "0.042";
        QTest::newRow("systel gana a 100kg") << "SYSTEL100KG"
                                             << "12345"
                                             << "12.345";
        QTest::newRow("kretz gana a 100kg") << "KRETZ100KG"
                                            << "X12345678"
                                            << "123456";
        QTest::newRow("kretz minúsculas") << "kretz"
                                          << "12345678"
                                          << "234567";
        QTest::newRow("kretz con sufijo") << "KretzPlus"
                                          << "A1.5"
                                          << "1.5";
        QTest::newRow("kretz espacios dentro quedan") << "KRETZ"
                                                      << "  1 2 3 "
                                                      << " 1 2 3";
        QTest::newRow("100kg minúsculas") << "bal100kg"
                                          << "12345"
                                          << "123.45";
        QTest::newRow("otro vacío") << "Libre"
                                    << ""
                                    << "";
        QTest::newRow("otro solo quita espacios") << "Libre"
                                                  << "\t12 "
                                                  << "\t12";
        QTest::newRow("otro no es número") << "Libre"
                                           << " abc "
                                           << "abc";
        QTest::newRow("nombre vacío") << ""
                                      << " 7 "
                                      << "7";
    }

    void decodifica()
    {
        QFETCH(QString, protocolo);
        QFETCH(QString, datos);
        QFETCH(QString, esperado);
        QCOMPARE(InfoRecepcionBascula(datos, protocolo), esperado);
    }

    // A system that writes decimals with a comma must not change the text the web page gets.
    void decodifica_conComaDecimal_data() { decodifica_data(); }
    void decodifica_conComaDecimal()
    {
        QFETCH(QString, protocolo);
        QFETCH(QString, datos);
        QFETCH(QString, esperado);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
            std::setlocale(LC_ALL, "de_DE");
        }
        QCOMPARE(InfoRecepcionBascula(datos, protocolo), esperado);
    }

    void numeroInicial_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<bool>("cabe");
        QTest::addColumn<double>("valor");

        QTest::newRow("entero") << "25" << true << 25.0;
        QTest::newRow("decimal") << "2.5" << true << 2.5;
        QTest::newRow("sin número") << "kg" << true << 0.0;
        QTest::newRow("espacios en todas partes") << " - 1 . 5 e 1" << true << -15.0;
        QTest::newRow("límite del double") << "1.7976931348623157E308" << true << 1.7976931348623157e308;
        QTest::newRow("desborda") << "1.8E308" << false << 0.0;
        QTest::newRow("desborda por dígitos") << QString(400, u'9') << false << 0.0;
        QTest::newRow("desborda negativo") << "-9E999" << false << 0.0;
        QTest::newRow("muchos ceros decimales") << "0." + QString(400, u'0') + "1" << true << 0.0;
    }

    void numeroInicial()
    {
        QFETCH(QString, texto);
        QFETCH(bool, cabe);
        QFETCH(double, valor);
        double leido = -1;
        QCOMPARE(LeerNumeroInicial(texto, leido), cabe);
        if (cabe) {
            QCOMPARE(leido, valor);
        }
    }

    void ajustesLinea_data()
    {
        QTest::addColumn<QString>("texto");
        QTest::addColumn<bool>("valido");
        QTest::addColumn<int>("baudios");
        QTest::addColumn<QChar>("paridad");
        QTest::addColumn<int>("datos");
        QTest::addColumn<int>("parada");

        QTest::newRow("kretz") << "9600,n,8,2" << true << 9600 << QChar(u'n') << 8 << 2;
        QTest::newRow("systel") << "9600,n,8,1" << true << 9600 << QChar(u'n') << 8 << 1;
        QTest::newRow("mayúsculas y espacios") << "4800, E ,7,1.5" << true << 4800 << QChar(u'e') << 7 << 3;
        QTest::newRow("impar") << "19200,o,5,1" << true << 19200 << QChar(u'o') << 5 << 1;
        QTest::newRow("faltan campos") << "9600,n,8" << false << 0 << QChar() << 0 << 0;
        QTest::newRow("paridad rara") << "9600,x,8,1" << false << 0 << QChar() << 0 << 0;
        QTest::newRow("velocidad no numérica") << "rápido,n,8,1" << false << 0 << QChar() << 0 << 0;
        QTest::newRow("velocidad cero") << "0,n,8,1" << false << 0 << QChar() << 0 << 0;
        QTest::newRow("bits de datos") << "9600,n,9,1" << false << 0 << QChar() << 0 << 0;
        QTest::newRow("bits de parada") << "9600,n,8,3" << false << 0 << QChar() << 0 << 0;
    }

    void ajustesLinea()
    {
        QFETCH(QString, texto);
        QFETCH(bool, valido);
        AjustesLinea ajustes;
        QString error;
        QCOMPARE(InterpretarAjustesLinea(texto, ajustes, error), valido);
        if (!valido) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QTEST(ajustes.baudios, "baudios");
        QTEST(QChar(QLatin1Char(ajustes.paridad)), "paridad");
        QTEST(ajustes.bitsDatos, "datos");
        QTEST(ajustes.bitsParada, "parada");
    }

    void perfiles_data()
    {
        QTest::addColumn<QString>("protocolo");
        QTest::addColumn<QString>("ajustes");
        QTest::addColumn<int>("lectura");
        QTest::addColumn<bool>("conocido");
        QTest::addColumn<QByteArray>("envio");
        QTest::addColumn<int>("escrituras");
        QTest::addColumn<int>("esperada");

        QTest::newRow("KRETZ") << "Kretz"
                               << "9600,n,8,2" << 8 << true << QByteArray("P") << 1 << 8;
        QTest::newRow("SYSTEL1") << "Systel1"
                                 << "9600,n,8,1" << 8 << true << QByteArray("\x07") << 1 << 8;
        QTest::newRow("SYSTEL2") << "SYSTEL2"
                                 << "9600,n,8,1" << 8 << true << QByteArray("\x07") << 2 << 8;
        QTest::newRow("SYSTEL3") << "systel3"
                                 << "9600,n,8,1" << 7 << true << QByteArray("\x07") << 1 << 7;
        QTest::newRow("Systel4") << "Systel4"
                                 << "9600,n,8,1" << 8 << false << QByteArray() << 0 << 8;
        QTest::newRow("vacío") << ""
                               << "9600,n,8,1" << 8 << false << QByteArray() << 0 << 8;
        QTest::newRow("100KG") << "Bal100KG"
                               << "9600,n,8,1" << 8 << false << QByteArray() << 0 << 8;
        QTest::newRow("prefijo kretz no basta") << "KretzPlus"
                                                << "9600,n,8,1" << 8 << false << QByteArray() << 0 << 8;
    }

    void perfiles()
    {
        QFETCH(QString, protocolo);
        const PerfilPuerto perfil = PerfilDelProtocolo(protocolo);
        QTEST(perfil.ajustes, "ajustes");
        QTEST(perfil.longitudLectura, "lectura");
        QTEST(perfil.conocido, "conocido");
        const Sondeo sondeo = SondeoDelProtocolo(protocolo);
        QTEST(sondeo.envio, "envio");
        QTEST(sondeo.escrituras, "escrituras");
        QTEST(sondeo.longitudEsperada, "esperada");
    }

    void dispositivos_data()
    {
        QTest::addColumn<int>("numero");
        QTest::addColumn<QString>("configurado");
        QTest::addColumn<QString>("esperado");
#ifdef Q_OS_WIN
        QTest::newRow("COM3") << 3 << ""
                              << "COM3";
        QTest::newRow("COM12") << 12 << ""
                               << "COM12";
#else
        QTest::newRow("COM1 es ttyS0") << 1 << ""
                                       << "/dev/ttyS0";
        QTest::newRow("COM3 es ttyS2") << 3 << ""
                                       << "/dev/ttyS2";
#endif
        QTest::newRow("dispositivo configurado") << 3 << "/dev/ttyUSB0"
                                                 << "/dev/ttyUSB0";
        QTest::newRow("cero no existe") << 0 << ""
                                        << "";
        QTest::newRow("negativo no existe") << -2 << ""
                                            << "";
    }

    void dispositivos()
    {
        QFETCH(int, numero);
        QFETCH(QString, configurado);
        QTEST(DispositivoDelPuerto(qint16(numero), configurado), "esperado");
    }
};

QTEST_GUILESS_MAIN(TestDecodificacion)
#include "tst_decodificacion.moc"
