#pragma once

#include "printing/spooler.h"

#include <QByteArray>
#include <QObject>

#include <memory>

// Hands a document to a spooler's job a piece per turn of the event loop, so that no turn holds the loop for long,
// and the next piece only once the spooler has taken the last (no copy of the document piles up in the agent),
// then closes the job. Dropped before the spooler's answer (with its parent, say), the job is withdrawn and no
// answer comes.
class Alimentador final : public QObject
{
public:
    // Bytes handed over in one turn of the event loop: below the size from which the allocator maps each buffer of
    // its own (and unmaps it, a costly call, once written), so the socket's buffers for the pieces are reused.
    static constexpr qsizetype kTrozo = 32 * 1024;

    // Starts feeding at once. `alTerminar` runs once, with the spooler's id or an empty id and its reason.
    static void Alimentar(std::unique_ptr<EnvioDirecto> envio, QByteArray datos, EnvioDirecto::AlTerminar alTerminar,
                          QObject* parent);

private:
    Alimentador(std::unique_ptr<EnvioDirecto> envio, QByteArray datos, EnvioDirecto::AlTerminar alTerminar,
                QObject* parent);
    void Seguir();
    void Acabar(const QString& idRecibido, const QString& motivoRecibido);

    std::unique_ptr<EnvioDirecto> m_envio;
    QByteArray m_datos;
    qsizetype m_enviados = 0;
    bool m_enSeguir = false;
    EnvioDirecto::AlTerminar m_alTerminar;
};
