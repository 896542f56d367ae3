#pragma once

#include "scale/protocolos.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

struct Configuracion;

// The scale's serial port, small enough to fake: open port n with line settings, close, write, and take what has
// arrived without waiting. Errors come back as false plus a description.
class PuertoSerie : public QObject
{
    Q_OBJECT

public:
    explicit PuertoSerie(QObject* parent = nullptr) : QObject(parent) {}

    // Opens port `numero` (COMn on Windows) with `ajustes`. False with `error` when the port is missing, taken, or
    // rejects the settings; the port is then closed.
    virtual bool Abrir(qint16 numero, const AjustesLinea& ajustes, QString& error) = 0;
    // False with `error` when the platform reports a failure; the port counts as closed afterwards anyway.
    virtual bool Cerrar(QString& error) = 0;
    virtual bool EstaAbierto() const = 0;
    // Queues all of `datos` for sending at once.
    virtual bool Escribir(const QByteArray& datos, QString& error) = 0;
    // Takes at most `maximo` received bytes out of the receive buffer now; empty when nothing has arrived.
    virtual QByteArray Tomar(qint64 maximo) = 0;
    // Drops everything received and not yet taken, including what the driver holds.
    virtual void Descartar() = 0;

signals:
    // Bytes arrived; Tomar can take them.
    void datosRecibidos();
    // The device failed while open (unplugged adapter, peer gone). Emitted from the event loop, never from inside
    // a call to this object.
    void errorDispositivo(const QString& descripcion);
};

// The platform's serial port for the scale, on the device that `cfg` names (DispositivoBalanza) or the platform's
// device for the port number.
std::unique_ptr<PuertoSerie> CrearPuertoSerieDelSistema(const Configuracion& cfg);
