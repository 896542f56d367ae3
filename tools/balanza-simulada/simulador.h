#pragma once

#include "pseudoterminal.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>

// A scale on a pseudo-terminal. SYSTEL1/SYSTEL2 answer each 0x07 with the weight in thousandths as 8 characters,
// SYSTEL3 as 7; KRETZ answers "P" with STX, the weight in 6 characters and CR; any other protocol sends by itself
// every interval (names ending in 100KG: hundredths as 8 digits; others: kilograms as 8 characters).
class Simulador final : public QObject
{
    Q_OBJECT

public:
    enum class Falla
    {
        Ninguna,
        Silencio,
        Parcial,
        Basura,
        Colgar
    };

    struct Opciones
    {
        QString protocolo = QStringLiteral("SYSTEL1");
        double peso = 1.234;
        int demoraMs = 0;
        int intervaloMs = 200;
        int asentarMs = 0; // each weight, the first included, passes through changing values this long
        Falla falla = Falla::Ninguna;
        QString enlace;  // a symbolic link to the device, created at start and removed at exit
        QString informe; // a report file kept up to date
    };

    explicit Simulador(const Opciones& opciones, QObject* parent = nullptr);
    ~Simulador() override;

    bool Iniciar(QString& error);
    // The path to give the agent as its device.
    QString Ruta() const;
    // One command line: "peso 2.5" (settling as --asentar says), "peso 2.5 1500" (settling 1.5 s), "demora 30", "falla
    // parcial", "informe", "colgar", "salir".
    QString Ordenar(const QString& orden);
    QString Informe() const;

    static bool LeerFalla(const QString& texto, Falla& falla);

    // The reply to one request, as the configured protocol writes it (also used for the free-running frames).
    static QByteArray Respuesta(const QString& protocolo, double peso);

signals:
    void terminado();

private:
    void AlLeer();
    void Responder();
    void Enviar(const QByteArray& respuesta);
    void Colgar();
    void VigilarLinea();
    void GuardarInforme() const;
    void Asentar(int ms);
    // The weight of the next reply: while settling, values around it that change from reply to reply.
    double PesoActual();

    Opciones m_opciones;
    QString m_nombre; // upper-cased protocol
    Pseudoterminal m_pty;
    std::unique_ptr<QSocketNotifier> m_lector;
    QTimer m_emisor;    // free-running frames
    QTimer m_vigilante; // line settings changes
    QByteArray m_recibido;
    int m_respuestas = 0;
    QString m_linea;          // current line settings of the device side
    QString m_lineaAlRecibir; // line settings when the last request byte arrived
    bool m_colgado = false;
    QElapsedTimer m_reloj;
    qint64 m_finAsentar = 0;
    int m_duracionAsentar = 0;
    int m_signo = 1;
};
