#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace soporte {

// tools/balanza-simulada on a pseudo-terminal, run by the test: its device is a link in the test's folder, its
// report a file beside it. Stopped, and its links removed, when it goes.
class BalanzaSimulada final
{
public:
    explicit BalanzaSimulada(const QString& carpeta);
    ~BalanzaSimulada();
    BalanzaSimulada(const BalanzaSimulada&) = delete;
    BalanzaSimulada& operator=(const BalanzaSimulada&) = delete;

    QString Enlace() const { return m_enlace; }

    // Starts it with the simulator's own options; true once it has named its device.
    bool Iniciar(const QStringList& argumentos);
    // One more name for the device itself (Wine opens COMn through a link in its prefix's dosdevices folder).
    bool EnlazarTambien(const QString& ruta);
    void Detener();
    bool Terminada() const { return m_proceso.state() == QProcess::NotRunning; }
    // A command on its standard input ("peso 6 400", "colgar"); true once it answered "ok".
    bool Ordenar(const QByteArray& orden);

    // One field of the report ("bytes", "linea", "recibidos", "respuestas", "estado").
    QString Campo(const QString& clave) const;

private:
    QString m_enlace;
    QString m_informe;
    QStringList m_otrosEnlaces;
    QProcess m_proceso;
};

} // namespace soporte
