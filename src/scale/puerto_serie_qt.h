#pragma once

#include "scale/puerto_serie.h"

#include <QSerialPort>

// PuertoSerie over QSerialPort. The device is `dispositivo` when it is not empty, otherwise the platform's device
// for the port number.
class PuertoSerieQt final : public PuertoSerie
{
    Q_OBJECT

public:
    explicit PuertoSerieQt(const QString& dispositivo, QObject* parent = nullptr);

    bool Abrir(qint16 numero, const AjustesLinea& ajustes, QString& error) override;
    bool Cerrar(QString& error) override;
    bool EstaAbierto() const override;
    bool Escribir(const QByteArray& datos, QString& error) override;
    QByteArray Tomar(qint64 maximo) override;
    void Descartar() override;

private:
    void AlFallar(QSerialPort::SerialPortError codigo);

    QString m_dispositivo;
    QSerialPort m_puerto;
    int m_llamadas = 0;     // > 0 while one of our own calls runs: its errors come back as its result
    quint64 m_apertura = 0; // counts openings, so that a late error report of an earlier one is dropped
    bool m_fallado = false; // the device error of this opening is already reported
};
