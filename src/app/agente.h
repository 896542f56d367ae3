#pragma once

#include "app/principal.h"
#include "base/registro.h"
#include "http/estado.h"
#include "http/servidor.h"
#include "settings/configuracion.h"
#include "settings/ubicacion.h"

#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class Balanza;
class BloqueoSesion;
class LecturasBalanza;
class EsperaBandeja;
class EntregaCSV;
class Impresion;
class Lanzador;
class ListaImpresoras;

// The composition root: brings the agent up in a fixed order and holds every part of it.
class Agente final : public QObject
{
    Q_OBJECT

public:
    // Where it reads and writes follows from the program folder (settings/ubicacion.h).
    explicit Agente(const QString& carpetaPrograma, QObject* parent = nullptr);
    ~Agente() override;

    // Runs the start-up. Returns the exit code when the process must end now, nothing when it goes on running.
    std::optional<int> Iniciar();
    // Start hidden behind the icon (at log-in) instead of with the window shown; before Iniciar.
    void FijarInicioEnBandeja(bool enBandeja) { m_enBandeja = enBandeja; }

    // How long a start in the tray waits for a notification area: every interval, this many times.
    static constexpr int kIntervaloBandejaMs = 500;
    static constexpr int kConsultasBandeja = 60;
    // The window waits at most this many milliseconds for the requests held at start-up.
    static constexpr int kEsperasVentana = 50;

    // Asks the agent of `carpetaPrograma`'s HTTP port, if one runs, to shut down as its service manager would (no
    // question), and waits a bounded time for it to end: for installers and scripts. 0 when none runs any more.
    static int DetenerEnEjecucion(const QString& carpetaPrograma);

    // The close question, for the window's close and the end of the user's session. True when the agent has shut
    // down (the user said Yes); false when it goes on. Without interaction allowed, it shuts down unasked.
    bool PreguntarCierre(bool permiteInteraccion = true);
    // The same question at the end of the user's session, which it holds meanwhile with the reason below.
    bool PreguntarFinSesion(bool permiteInteraccion);
    static constexpr const char* kMotivoBloqueo = "Plugin Tornavo pregunta si desea cerrarse.";
    // What gives Windows that reason; tests replace it, before Iniciar.
    void FijarBloqueoSesion(std::unique_ptr<BloqueoSesion> bloqueo);
    // Releases the serial port, the listener and the icon, then ends the event loop.
    void Apagar();
    // How the process ends once shut down; tests replace it.
    void FijarSalida(std::function<void(int)> salir) { m_salir = std::move(salir); }

    const Configuracion& Config() const { return m_cfg; }
    // The window, made now if start-up has not made it yet.
    Principal* Ventana();
    ServidorWeb* Servidor() const { return m_servidor.get(); }
    Balanza* ObtenerBalanza() const { return m_balanza.get(); }
    LecturasBalanza* Lecturas() const { return m_lecturas.get(); }
    Registro& ObtenerRegistro() { return m_registro; }
    const Ubicacion& ObtenerUbicacion() const { return m_ubicacion; }

private:
    Endpoints CrearEndpoints();
    // The window and the icon. They wait until no request is held (a bounded time): making them loads the fonts,
    // which takes longer than serving a page that was waiting for the agent to start.
    void CrearVentana();
    void CrearVentanaCuandoOcioso();

    QString m_carpetaPrograma;
    Ubicacion m_ubicacion;
    Configuracion m_cfg;
    Registro m_registro;
    std::unique_ptr<QLockFile> m_instancia;
    std::function<void(int)> m_salir;
    bool m_preguntando = false;
    bool m_apagado = false;
    bool m_enBandeja = false;
    std::unique_ptr<Principal> m_ventana;
    QStringList m_lineasPrevias; // the log's lines until the window shows them
    QMetaObject::Connection m_guardarLineas;
    QTimer m_ventanaDiferida;
    int m_esperasVentana = 0;
    std::unique_ptr<EsperaBandeja> m_esperaBandeja;
    std::unique_ptr<BloqueoSesion> m_bloqueo;
    std::unique_ptr<DocumentoEstado> m_estado;
    std::unique_ptr<Lanzador> m_lanzador;
    std::unique_ptr<Balanza> m_balanza;
    std::unique_ptr<LecturasBalanza> m_lecturas;
    std::unique_ptr<EntregaCSV> m_csv;
    std::unique_ptr<ListaImpresoras> m_impresoras;
    std::unique_ptr<Impresion> m_impresion;
    std::unique_ptr<ServidorWeb> m_servidor;
};
