#include "printing/alimentador.h"

#include <QTimer>

Alimentador::Alimentador(std::unique_ptr<EnvioDirecto> envio, QByteArray datos, EnvioDirecto::AlTerminar alTerminar,
                         QObject* parent)
    : QObject(parent)
    , m_envio(std::move(envio))
    , m_datos(std::move(datos))
    , m_alTerminar(std::move(alTerminar))
{
}

void Alimentador::Alimentar(std::unique_ptr<EnvioDirecto> envio, QByteArray datos, EnvioDirecto::AlTerminar alTerminar,
                            QObject* parent)
{
    (new Alimentador(std::move(envio), std::move(datos), std::move(alTerminar), parent))->Seguir();
}

void Alimentador::Seguir()
{
    const qsizetype largo = std::min(kTrozo, m_datos.size() - m_enviados);
    QString motivo;
    if (!m_envio->Escribir(QByteArrayView(m_datos).sliced(m_enviados, largo), motivo)) {
        Acabar(QString(), motivo);
        return;
    }
    m_enviados += largo;
    if (m_enviados < m_datos.size()) {
        // Told later, from the socket's own turn of the event loop, the next piece goes at once; told now, it waits
        // for the next turn.
        m_enSeguir = true;
        m_envio->CuandoPuedaSeguir([this] {
            if (m_enSeguir) {
                QTimer::singleShot(0, this, &Alimentador::Seguir);
            } else {
                Seguir();
            }
        });
        m_enSeguir = false;
        return;
    }
    m_datos.clear();
    m_envio->Terminar([this](const QString& id, const QString& motivo) { Acabar(id, motivo); });
}

void Alimentador::Acabar(const QString& idRecibido, const QString& motivoRecibido)
{
    // Copies: what they refer to may go with the job.
    const QString id = idRecibido;
    const QString motivo = motivoRecibido;
    m_envio.reset();
    deleteLater();
    // The last thing done: whoever hears it may take this object's parent with it.
    const EnvioDirecto::AlTerminar alTerminar = std::exchange(m_alTerminar, nullptr);
    alTerminar(id, motivo);
}
