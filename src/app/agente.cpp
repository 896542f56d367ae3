#include "app/agente.h"

#include "app/avisos.h"
#include "app/avisos_ventana.h"
#include "app/bloqueo_sesion.h"
#include "app/espera_bandeja.h"
#include "app/proceso.h"
#include "base/lanzador.h"
#include "handoff/entrega_csv.h"
#include "printing/impresion.h"
#include "printing/lista_impresoras.h"
#include "printing/spooler.h"
#include "printing/visor_sistema.h"
#include "scale/balanza.h"
#include "scale/lecturas.h"
#include "scale/puertos.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLockFile>
#include <QScreen>
#include <QSessionManager>

namespace {

// A lock left by a dead agent whose process number is now ours looks held by a live process (this one). Windows
// reuses process numbers soon, so after a crash or a power cut this would keep the agent from ever starting again.
bool TomarCerrojoHuerfano(QLockFile& cerrojo)
{
    qint64 pid = 0;
    QString equipo;
    QString aplicacion;
    if (!cerrojo.getLockInfo(&pid, &equipo, &aplicacion) || pid != QCoreApplication::applicationPid()) {
        return false;
    }
    return cerrojo.removeStaleLockFile() && cerrojo.tryLock(0);
}

// One agent per HTTP port.
std::unique_ptr<QLockFile> CerrojoDelPuerto(quint16 puerto)
{
    auto cerrojo = std::make_unique<QLockFile>(
        QDir(QDir::tempPath()).filePath(QStringLiteral("plugin-tornavo-%1.lock").arg(puerto)));
    // A lock held for hours is not stale; only a dead owner makes it so.
    cerrojo->setStaleLockTime(0);
    return cerrojo;
}

} // namespace

int Agente::DetenerEnEjecucion(const QString& carpetaPrograma)
{
    Configuracion cfg;
    QString error;
    LeerConfiguracion(ElegirUbicacion(EntornoDelSistema(carpetaPrograma)).configuraciones, cfg, error);
    const auto cerrojo = CerrojoDelPuerto(cfg.PuertoHTTP);
    if (cerrojo->tryLock(0)) {
        return 0;
    }
    qint64 pid = 0;
    QString equipo;
    QString aplicacion;
    if (!cerrojo->getLockInfo(&pid, &equipo, &aplicacion) || !PedirTerminar(pid)) {
        return 1;
    }
    // No event loop runs in this short-lived process: waiting on the lock is all it does.
    return cerrojo->tryLock(15000) ? 0 : 1;
}

Agente::Agente(const QString& carpetaPrograma, QObject* parent)
    : QObject(parent)
    , m_carpetaPrograma(carpetaPrograma)
    , m_ubicacion(ElegirUbicacion(EntornoDelSistema(carpetaPrograma)))
    , m_registro(m_ubicacion.carpetaDatos, RelojDelSistema())
    , m_salir([](int codigo) { QCoreApplication::exit(codigo); })
{
    InstalarRegistro(&m_registro);
}

Agente::~Agente()
{
    // The listener goes first, so that no request reaches a part already gone.
    m_servidor.reset();
    m_lecturas.reset();
    m_balanza.reset();
    m_impresion.reset();
    m_csv.reset();
    InstalarRegistro(nullptr);
}

Endpoints Agente::CrearEndpoints()
{
    Endpoints endpoints;
    endpoints.estado = [this] { return m_estado->ObtenerEstado(); };
    endpoints.peso = [this](Responder responder) { m_lecturas->PedirPeso(std::move(responder)); };
    endpoints.balanza = [this](Responder responder) {
        m_lecturas->Leer([this, responder](const LecturaBalanza& l) { responder(m_lecturas->Documento(l)); });
    };
    endpoints.balanzaEstable = [this](Responder responder) {
        m_lecturas->EsperarEstable([this, responder](const LecturaBalanza& l) { responder(m_lecturas->Documento(l)); });
    };
    endpoints.suscribirBalanza = [this](std::function<void(const QString&)> alCambiar) {
        return m_lecturas->Suscribir(
            [this, alCambiar = std::move(alCambiar)](const LecturaBalanza& l) { alCambiar(m_lecturas->Documento(l)); });
    };
    endpoints.desuscribirBalanza = [this](int id) { m_lecturas->Desuscribir(id); };
    endpoints.puertos = [this] { return DocumentoPuertos(PuertosDelSistema(), m_cfg); };
    endpoints.impresoras = [this] { return m_impresion->ListarImpresoras(); };
    endpoints.imprimir = [this](QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder) {
        m_impresion->Imprimir(std::move(cuerpo), std::move(lector), std::move(responder));
    };
    endpoints.csv = [this](QByteArray cuerpo) { return m_csv->RecibirCSV(std::move(cuerpo)); };
    endpoints.detalleImpresoras = [this](Responder responder) { m_impresion->DetalleImpresoras(std::move(responder)); };
    endpoints.trabajo = [this](const QString& id, Responder responder) {
        m_impresion->ConsultarTrabajo(id, std::move(responder));
    };
    endpoints.imprimirDirecto = [this](QByteArray cuerpo, Responder responder) {
        m_impresion->ImprimirDirecto(std::move(cuerpo), std::move(responder));
    };
    return endpoints;
}

std::optional<int> Agente::Iniciar()
{
    // Read once, before anything else: the HTTP port names the lock. A file that is missing or holds a bad number
    // still leaves a valid port (its default) for the lock, so a second agent ends silently either way.
    QString error;
    const bool configuracionValida = LeerConfiguracion(m_ubicacion.configuraciones, m_cfg, error);

    // One agent per HTTP port: a second one ends silently.
    m_instancia = CerrojoDelPuerto(m_cfg.PuertoHTTP);
    if (!m_instancia->tryLock(0) && !TomarCerrojoHuerfano(*m_instancia)) {
        return 0;
    }

    if (!m_ubicacion.HayConfiguracion()) {
        const QString texto = QStringLiteral("No se encontró el archivo de configuración.");
        MostrarAviso(texto, IconoAviso::Error, BotonesAviso::Aceptar);
        EscribirLog(texto);
        return 1;
    }
    if (!configuracionValida) {
        MostrarAviso(error, IconoAviso::Error, BotonesAviso::Aceptar);
        EscribirLog(error);
        return 1;
    }

    // The agent ends only through its confirmed shut-down: a message box closed while the window is in the tray
    // would otherwise be the last visible window, and closing it would end the process.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    m_guardarLineas =
        connect(&m_registro, &Registro::lineaEscrita, this, [this](const QString& linea) { m_lineasPrevias << linea; });
    EscribirLog(m_ubicacion.Descripcion());
    // The received PDF goes there; the line above has normally made it already.
    QDir().mkpath(m_ubicacion.carpetaDatos);

    m_lanzador = CrearLanzadorDelSistema();
    m_balanza = std::make_unique<Balanza>(m_cfg, CrearPuertoSerieDelSistema(m_cfg));
    m_lecturas = std::make_unique<LecturasBalanza>(*m_balanza, m_cfg);
    m_csv = std::make_unique<EntregaCSV>(m_cfg, *m_lanzador);
    m_impresoras = CrearListaImpresorasDelSistema();
    m_impresion = std::make_unique<Impresion>(m_ubicacion.carpetaDatos, *m_impresoras,
                                              CrearVisorDelSistema(m_carpetaPrograma, *m_lanzador), RelojDelSistema(),
                                              CrearSpoolerDelSistema());
    m_estado = std::make_unique<DocumentoEstado>(
        m_cfg, [this] { return m_servidor->PuertoLocal(); }, RelojDelSistema());
    m_servidor = std::make_unique<ServidorWeb>(m_cfg, CrearEndpoints(), TiemposServidor{});
    connect(m_servidor.get(), &ServidorWeb::falloAlIniciar, this, [] {
        MostrarAviso(QStringLiteral("? Error al iniciar el servidor Web."), IconoAviso::Error, BotonesAviso::Aceptar);
    });
    m_servidor->IniciarServidor();

    if (m_cfg.EsNormal() && !m_balanza->AbrirPuerto(m_cfg.PortBalanza, m_cfg.ProtocoloBalanza)) {
        EscribirLog(QStringLiteral("Error al abrir el puerto COM. Verifique configuración."));
    }

    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& sesion) {
        if (!PreguntarFinSesion(sesion.allowsInteraction())) {
            sesion.cancel();
        }
    });
    AlPedirseTerminar(this, [this] { Apagar(); });

    if (PlataformaSinPantalla()) {
        EscribirLog(QStringLiteral("?? No hay pantalla disponible: la ventana no se muestra."));
    }
    m_ventanaDiferida.setSingleShot(true);
    connect(&m_ventanaDiferida, &QTimer::timeout, this, &Agente::CrearVentanaCuandoOcioso);
    m_ventanaDiferida.start(0);
    return std::nullopt;
}

Principal* Agente::Ventana()
{
    CrearVentana();
    return m_ventana.get();
}

void Agente::CrearVentanaCuandoOcioso()
{
    if (m_servidor && !m_servidor->Ocioso() && ++m_esperasVentana < kEsperasVentana) {
        m_ventanaDiferida.start(1);
        return;
    }
    CrearVentana();
}

void Agente::CrearVentana()
{
    if (m_ventana || !m_servidor || m_apagado) {
        return;
    }
    m_ventanaDiferida.stop();
    m_ventana = std::make_unique<Principal>();
    // The lines so far, then the rest as they come: the window misses none and keeps their order.
    disconnect(m_guardarLineas);
    for (const QString& linea : std::as_const(m_lineasPrevias)) {
        m_ventana->AgregarLinea(linea);
    }
    m_lineasPrevias.clear();
    connect(&m_registro, &Registro::lineaEscrita, m_ventana.get(), &Principal::AgregarLinea);

    connect(m_ventana.get(), &Principal::probarPeso, this,
            [this] { m_balanza->PedirPeso(m_cfg.ProtocoloBalanza, [](const QString&) {}); });
    connect(m_ventana.get(), &Principal::reiniciarServidor, this, [this] {
        m_servidor->DetenerServidor();
        m_servidor->IniciarServidor();
    });

    if (!m_bloqueo) {
        m_bloqueo = CrearBloqueoSesionDelSistema(*m_ventana);
    }
    m_ventana->FijarDecisionCierre([this] { return PreguntarCierre(); });
    if (QScreen* pantalla = QGuiApplication::primaryScreen()) {
        const QRect zona = pantalla->availableGeometry();
        m_ventana->move(zona.center() - m_ventana->rect().center());
    }
    // Where nothing can be shown there is no notification area to wait for.
    if (m_enBandeja && !PlataformaSinPantalla()) {
        m_esperaBandeja = std::make_unique<EsperaBandeja>([] { return QSystemTrayIcon::isSystemTrayAvailable(); });
        OcultarEnBandeja(*m_ventana, *m_esperaBandeja, kIntervaloBandejaMs, kConsultasBandeja);
        return;
    }
    m_ventana->MostrarIconoBandeja();
    m_ventana->show();
}

bool Agente::PreguntarCierre(bool permiteInteraccion)
{
    if (m_apagado) {
        return true;
    }
    if (m_preguntando) {
        return false; // the question is already open
    }
    if (permiteInteraccion) {
        // Requests go on being served while the question is open.
        m_preguntando = true;
        const RespuestaAviso respuesta =
            MostrarAviso(QStringLiteral("¿Deseas cerrar el Plugin?"), IconoAviso::Pregunta, BotonesAviso::SiNo);
        m_preguntando = false;
        if (m_apagado) {
            return true; // shut down meanwhile (a stop signal)
        }
        if (respuesta != RespuestaAviso::Si) {
            return false;
        }
    }
    Apagar();
    return true;
}

bool Agente::PreguntarFinSesion(bool permiteInteraccion)
{
    if (!permiteInteraccion || m_apagado || m_preguntando || !m_bloqueo) {
        return PreguntarCierre(permiteInteraccion);
    }
    m_bloqueo->Bloquear(QString::fromUtf8(kMotivoBloqueo));
    const bool apagado = PreguntarCierre(true);
    m_bloqueo->Liberar();
    return apagado;
}

void Agente::FijarBloqueoSesion(std::unique_ptr<BloqueoSesion> bloqueo)
{
    m_bloqueo = std::move(bloqueo);
}

void Agente::Apagar()
{
    if (m_apagado) {
        return;
    }
    m_apagado = true;
    // The scale's streams end first: a port closed under a reading would reach them as an error.
    if (m_servidor) {
        m_servidor->CerrarFlujos();
    }
    // A port that fails to close must not keep the listener or the icon alive.
    if (m_cfg.EsNormal() && m_balanza && m_balanza->PuertoAbierto()) {
        m_balanza->CerrarPuerto();
    }
    if (m_servidor) {
        m_servidor->DetenerServidor();
    }
    if (m_ventana) {
        m_ventana->QuitarIconoBandeja();
    }
    m_salir(0);
}
