#pragma once

#include <QByteArray>
#include <QString>

struct Configuracion;
class Lanzador;

// True for a name that stays inside the data folder and means a plain file on every platform: no folder separator,
// no colon, no control character, no lone surrogate, not "." or "..", and not a Windows device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9), with or without an extension.
bool NombreArchivoValido(const QString& nombre);

// POST /csv-base64: stores the CSV sent as Base64 in the data folder and starts Qendra with "-i".
class EntregaCSV final
{
public:
    // `lanzador` must outlive this object.
    explicit EntregaCSV(const Configuracion& cfg, Lanzador& lanzador);

    // The JSON answer for a request body; every outcome is logged.
    QString RecibirCSV(QByteArray cuerpo);

private:
    // Qendra's working folder: the folder of its program file.
    QString CarpetaQendra() const;

    Lanzador& m_lanzador;
    QString m_carpetaDatos;
    QString m_programaQendra;
};
