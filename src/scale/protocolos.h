#pragma once

#include <QByteArray>
#include <QString>

// Line settings of a serial port, read from a text such as "9600,n,8,2".
struct AjustesLinea
{
    qint32 baudios = 9600;
    char paridad = 'n'; // n (none), e (even), o (odd), m (mark), s (space)
    int bitsDatos = 8;  // 5 to 8
    int bitsParada = 1; // 1, 2, or 3 for one and a half

    bool operator==(const AjustesLinea&) const = default;
};

// "baud,parity,data,stop": e.g. "9600,n,8,1" or "4800,E,7,1.5". Returns false with `error` for anything else.
bool InterpretarAjustesLinea(const QString& texto, AjustesLinea& ajustes, QString& error);

// How the port is set up for a scale protocol (the name in any case).
struct PerfilPuerto
{
    QString ajustes;     // line settings text
    int longitudLectura; // most characters one read takes
    bool conocido;       // false: the name has no profile and got the default one
};
PerfilPuerto PerfilDelProtocolo(const QString& protocolo);

// What one polling attempt sends and how many reply characters end the polling.
struct Sondeo
{
    QByteArray envio; // written `escrituras` times per attempt; empty: the scale sends by itself
    int escrituras;
    int longitudEsperada;
};
Sondeo SondeoDelProtocolo(const QString& protocolo);
