#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class Principal;

// At log-in the notification area may appear after the agent. Asks `hayBandeja` at once and then every
// `intervaloMs`, until it says yes (lista) or `consultas` answers have all been no (agotada); a timer drives it, so
// requests go on being served meanwhile.
class EsperaBandeja final : public QObject
{
    Q_OBJECT

public:
    enum class Estado
    {
        Inactiva,
        Esperando,
        Lista,
        Agotada
    };

    explicit EsperaBandeja(std::function<bool()> hayBandeja, QObject* parent = nullptr);

    void Iniciar(int intervaloMs, int consultas);
    Estado EstadoActual() const { return m_estado; }
    int Consultas() const { return m_hechas; }

signals:
    void lista();
    void agotada();

private:
    void Consultar();

    std::function<bool()> m_hayBandeja;
    QTimer m_temporizador;
    Estado m_estado = Estado::Inactiva;
    int m_hechas = 0;
    int m_consultas = 0;
};

// Starts the window hidden behind its icon: the icon appears as soon as `espera` finds a notification area, and
// the window is shown (with a log line) when none appears in time, so the agent is never left with neither.
void OcultarEnBandeja(Principal& ventana, EsperaBandeja& espera, int intervaloMs, int consultas);
