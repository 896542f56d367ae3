#include "app/espera_bandeja.h"

#include "app/principal.h"
#include "base/registro.h"

EsperaBandeja::EsperaBandeja(std::function<bool()> hayBandeja, QObject* parent)
    : QObject(parent)
    , m_hayBandeja(std::move(hayBandeja))
{
    connect(&m_temporizador, &QTimer::timeout, this, &EsperaBandeja::Consultar);
}

void EsperaBandeja::Iniciar(int intervaloMs, int consultas)
{
    m_temporizador.stop();
    m_estado = Estado::Esperando;
    m_hechas = 0;
    m_consultas = qMax(1, consultas);
    m_temporizador.setInterval(qMax(0, intervaloMs));
    Consultar();
}

void EsperaBandeja::Consultar()
{
    if (m_estado != Estado::Esperando) {
        return;
    }
    ++m_hechas;
    if (m_hayBandeja()) {
        m_temporizador.stop();
        m_estado = Estado::Lista;
        emit lista();
        return;
    }
    if (m_hechas >= m_consultas) {
        m_temporizador.stop();
        m_estado = Estado::Agotada;
        emit agotada();
        return;
    }
    if (!m_temporizador.isActive()) {
        m_temporizador.start();
    }
}

void OcultarEnBandeja(Principal& ventana, EsperaBandeja& espera, int intervaloMs, int consultas)
{
    QObject::connect(&espera, &EsperaBandeja::lista, &ventana, [&ventana] { ventana.MostrarIconoBandeja(); });
    QObject::connect(&espera, &EsperaBandeja::agotada, &ventana, [&ventana] {
        EscribirLog(QStringLiteral("?? No apareció el área de notificación: se muestra la ventana."));
        ventana.MostrarIconoBandeja();
        ventana.show();
    });
    espera.Iniciar(intervaloMs, consultas);
}
