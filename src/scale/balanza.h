#pragma once

#include "base/reloj.h"
#include "base/responder.h"
#include "scale/lectura.h"
#include "scale/puerto_serie.h"
#include "settings/configuracion.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

// The scale link: opens the scale's port with its protocol's line settings and reads one weight per request, as a
// state machine driven by the port's and a timer's signals (the event loop keeps serving everything else).
class Balanza final : public QObject
{
    Q_OBJECT

public:
    using AlLeer = std::function<void(const LecturaBalanza&)>;

    // Takes ownership of `puerto`. `cfg` is copied: the settings are constant for the life of the process. `hora`
    // stamps each reading, `monotono` measures its age and how long a weight has held.
    Balanza(const Configuracion& cfg, std::unique_ptr<PuertoSerie> puerto, Reloj hora, Reloj monotono,
            QObject* parent = nullptr);
    Balanza(const Configuracion& cfg, std::unique_ptr<PuertoSerie> puerto, QObject* parent = nullptr);
    ~Balanza() override;

    // Closes the port if open, then opens port `puerto` with the line settings of `protocolo` (any case). Logs
    // the outcome; false when the port could not be opened.
    bool AbrirPuerto(qint16 puerto, const QString& protocolo);

    // One weight reading, handed to `alTerminar` as the decoded weight text, "ERR" when the reply cannot be
    // decoded, or "ERROR" when the port fails. A request made while a reading runs joins it and gets its result.
    // `alTerminar` runs exactly once: before this returns when no polling is needed (simulated weights, a port
    // that cannot be opened), otherwise later from the event loop; never after the Balanza is destroyed.
    void PedirPeso(const QString& protocolo, Responder alTerminar);
    // The same reading as data. A reading asked for without `registrar` writes no log line (readings made on a
    // schedule would fill the log), unless a request that logs joins it.
    void PedirLectura(const QString& protocolo, AlLeer alLeer, bool registrar = true);

    // The last reading, if any was made.
    const std::optional<LecturaBalanza>& Ultima() const { return m_ultima; }
    bool Leyendo() const { return m_leyendo; }
    qint64 Ahora() const { return m_monotono(); }

    // Closes the port (at shut-down). False, with a log line, when the platform reports a failure.
    bool CerrarPuerto();

    bool PuertoAbierto() const;
    // Test hook: polling attempts of the current or last reading. A scale that sends by itself gets no bytes from
    // the agent, so nothing else shows how many attempts a silent one was given.
    int Intento() const { return m_intento; }

private:
    void IniciarIntento();
    void AlRecibir();
    void AlVencerPausa();
    void AlFallarDispositivo(const QString& descripcion);
    // Appends what the port holds (in pieces of the read length, spaces at both ends of each piece removed) until
    // the reply is complete or the port is empty. True when the reply is complete.
    bool TomarRespuesta();
    void Terminar(const QString& resultado);
    // `detalle`: the reason the reading's document gives, when it is not the logged description.
    void Fallar(const QString& descripcion, const QString& detalle = QString());
    void Entregar(LecturaBalanza lectura);
    QString SimularRespuesta() const;
    void Registrar(const QString& mensaje) const;

    Configuracion m_cfg;
    std::unique_ptr<PuertoSerie> m_puerto;
    Reloj m_hora;
    Reloj m_monotono;
    HistorialPesos m_historial;
    std::optional<LecturaBalanza> m_ultima;
    QString m_errorApertura; // the platform's reason of the last failed opening
    QTimer m_pausa;
    qint16 m_numeroPuerto = 0; // the port number last used, for the closing message
    int m_longitudLectura = 8; // most characters one read takes, from the port's protocol profile

    // The reading in progress.
    bool m_leyendo = false;
    bool m_sondeando = false; // polling the scale (as opposed to opening, simulating or finishing)
    bool m_registrar = true;  // the reading writes its log lines
    QString m_protocolo;
    Sondeo m_sondeo;
    int m_intento = 0;
    QString m_respuesta;
    std::vector<AlLeer> m_esperando;
};
