#pragma once

#include <QString>
#include <QStringList>

// The agent's settings, read once at start-up from section "Configuracion" of config.ini and constant afterwards.
struct Configuracion
{
    QString Comportamiento = QStringLiteral("NORMAL");
    qint16 PortBalanza = 3;
    QString ProtocoloBalanza = QStringLiteral("Systel1");
    qint32 Intentos = 25;
    QString MODE = QStringLiteral("PRO");

    // Optional keys; their defaults give a plain installation on this machine.
    quint16 PuertoHTTP = 9999;
    QString DireccionEscucha; // empty: loopback only (127.0.0.1 and ::1)
    QString DominioWeb = QStringLiteral("tornavo.com");
    QString DispositivoBalanza;    // empty: the platform's device for port PortBalanza
    qint32 PausaIntento = 50;      // milliseconds one weight attempt waits for the reply
    qint32 IntervaloBalanza = 200; // milliseconds between readings while a page follows the weight
    qint32 EstableMs = 500;        // how long one weight must hold to count as settled
    qint32 EsperaEstable = 3000;   // how long a request for a settled weight waits for one
    qint32 OyentesBalanza = 8;     // most pages following the weight at once
    QString CarpetaCSV;            // empty: the platform's data folder
    QString ProgramaQendra;        // empty: the platform's Qendra path

    bool EsNormal() const { return Comportamiento == QLatin1String("NORMAL"); }
    bool EsPro() const { return MODE == QLatin1String("PRO"); }
    bool EsDev() const { return MODE == QLatin1String("DEV"); }
};

inline const QString kSeccionConfiguracion = QStringLiteral("Configuracion");

// Reads every key of the file at `ruta`. A number that is not a whole decimal number in its type's range makes it
// return false with `error` naming the key and its value; the other settings are still filled.
bool LeerConfiguracion(const QString& ruta, Configuracion& cfg, QString& error);
// The same over several files read in turn: a key present in a later file overrides the earlier ones (a user's
// config.ini over the machine's). No file at all gives every default.
bool LeerConfiguracion(const QStringList& rutas, Configuracion& cfg, QString& error);

// A whole decimal number (optional sign, digits only, nothing around it) within [minimo, maximo].
bool ConvertirEntero(const QString& texto, qint64 minimo, qint64 maximo, qint64& valor);
