#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair held by the simulator: the agent opens the device side by its path; the simulator talks
// on the controlling side. The simulator keeps the device side open too, so that the pair survives the agent
// closing its port, and so that it can read the line settings the agent applied.
class Pseudoterminal final
{
public:
    Pseudoterminal() = default;
    ~Pseudoterminal();
    Pseudoterminal(const Pseudoterminal&) = delete;
    Pseudoterminal& operator=(const Pseudoterminal&) = delete;

    bool Abrir(QString& error);
    void Cerrar();
    bool EstaAbierto() const { return m_controlador >= 0; }

    QString Dispositivo() const { return m_dispositivo; }
    int Descriptor() const { return m_controlador; }

    // What the agent sent; empty when nothing is waiting.
    QByteArray Leer();
    bool Escribir(const QByteArray& datos);

    // The device side's line settings as "baud,parity,data,stop", e.g. "9600,n,8,2".
    QString AjustesLinea() const;

private:
    int m_controlador = -1;
    int m_esclavo = -1;
    QString m_dispositivo;
};
