#include "scale/balanza.h"

#include "base/registro.h"
#include "base/texto.h"
#include "scale/decodificacion.h"

#include <QPointer>
#include <QRandomGenerator>

#include <algorithm>

namespace {

// Readings further apart than this do not vouch for the weight in between: a schedule's gap, or the settling time.
qint64 HuecoEstable(const Configuracion& cfg)
{
    return std::max<qint64>(cfg.EstableMs, 2 * qint64(cfg.IntervaloBalanza));
}

} // namespace

Balanza::Balanza(const Configuracion& cfg, std::unique_ptr<PuertoSerie> puerto, QObject* parent)
    : Balanza(cfg, std::move(puerto), RelojDelSistema(), RelojMonotono(), parent)
{
}

Balanza::Balanza(const Configuracion& cfg, std::unique_ptr<PuertoSerie> puerto, Reloj hora, Reloj monotono,
                 QObject* parent)
    : QObject(parent)
    , m_cfg(cfg)
    , m_puerto(std::move(puerto))
    , m_hora(std::move(hora))
    , m_monotono(std::move(monotono))
    , m_historial(cfg.EstableMs, HuecoEstable(cfg))
{
    Q_ASSERT(m_puerto);
    m_pausa.setSingleShot(true);
    m_pausa.setTimerType(Qt::PreciseTimer);
    connect(&m_pausa, &QTimer::timeout, this, &Balanza::AlVencerPausa);
    connect(m_puerto.get(), &PuertoSerie::datosRecibidos, this, &Balanza::AlRecibir);
    connect(m_puerto.get(), &PuertoSerie::errorDispositivo, this, &Balanza::AlFallarDispositivo);
}

Balanza::~Balanza()
{
    // Waiting callers are dropped, and the port goes away without reaching a half-destroyed Balanza.
    m_pausa.stop();
    m_esperando.clear();
    disconnect(m_puerto.get(), nullptr, this, nullptr);
    m_puerto.reset();
}

bool Balanza::AbrirPuerto(qint16 puerto, const QString& protocolo)
{
    const QString prefijoError = QStringLiteral("? Error al abrir puerto COM%1: ").arg(puerto);
    QString error;
    if (m_puerto->EstaAbierto()) {
        if (!m_puerto->Cerrar(error)) {
            m_errorApertura = error;
            Registrar(prefijoError + error);
            return false;
        }
        Registrar(QStringLiteral("Puerto COM:%1 cerrado antes de reabrir.").arg(m_numeroPuerto));
    }

    const PerfilPuerto perfil = PerfilDelProtocolo(protocolo);
    if (!perfil.conocido) {
        Registrar(QStringLiteral("?? Protocolo desconocido: ") + protocolo +
                  QStringLiteral(". Usando configuración por defecto."));
    }
    AjustesLinea ajustes;
    if (!InterpretarAjustesLinea(perfil.ajustes, ajustes, error)) {
        m_errorApertura = error;
        Registrar(prefijoError + error);
        return false;
    }
    m_longitudLectura = perfil.longitudLectura;
    m_numeroPuerto = puerto;
    if (!m_puerto->Abrir(puerto, ajustes, error)) {
        m_errorApertura = error;
        Registrar(prefijoError + error);
        return false;
    }
    m_errorApertura.clear();
    Registrar(QStringLiteral("? Puerto COM%1 abierto con protocolo: ").arg(puerto) + protocolo);
    return true;
}

void Balanza::PedirPeso(const QString& protocolo, Responder alTerminar)
{
    PedirLectura(protocolo, [alTerminar = std::move(alTerminar)](const LecturaBalanza& lectura) {
        if (alTerminar) {
            alTerminar(lectura.peso);
        }
    });
}

void Balanza::PedirLectura(const QString& protocolo, AlLeer alLeer, bool registrar)
{
    // A request during a reading would write into the middle of the scale's reply: it waits for the same result.
    m_esperando.push_back(std::move(alLeer));
    if (m_leyendo) {
        m_registrar = m_registrar || registrar;
        return;
    }
    m_leyendo = true;
    m_registrar = registrar;
    m_protocolo = protocolo;
    m_respuesta.clear();
    m_intento = 0;

    if (!m_cfg.EsNormal() && !AbrirPuerto(m_cfg.PortBalanza, m_cfg.ProtocoloBalanza)) {
        Registrar(QStringLiteral("Error al abrir el puerto COM. Verifique configuración."));
        Fallar(QString(), m_errorApertura);
        return;
    }

    if (!m_cfg.EsPro()) {
        m_respuesta = SimularRespuesta();
        Terminar(InfoRecepcionBascula(m_respuesta, protocolo));
        return;
    }

    // A port kept open may have failed to open at start-up or vanished since: one more try before polling.
    if (!m_puerto->EstaAbierto() && !AbrirPuerto(m_cfg.PortBalanza, m_cfg.ProtocoloBalanza)) {
        Fallar(QStringLiteral("el puerto COM%1 no está abierto").arg(m_cfg.PortBalanza), m_errorApertura);
        return;
    }

    m_sondeo = SondeoDelProtocolo(protocolo);
    // Whatever the port holds now is left over from an earlier reply, not the current weight.
    m_puerto->Descartar();
    m_sondeando = true;
    IniciarIntento();
}

void Balanza::IniciarIntento()
{
    ++m_intento;
    for (int i = 0; i < m_sondeo.escrituras; ++i) {
        QString error;
        if (!m_puerto->Escribir(m_sondeo.envio, error)) {
            Fallar(error);
            return;
        }
    }
    // The attempt ends when the reply is complete (AlRecibir) or when the pause runs out (AlVencerPausa).
    m_pausa.start(std::max(0, m_cfg.PausaIntento));
}

bool Balanza::TomarRespuesta()
{
    while (m_respuesta.size() < m_sondeo.longitudEsperada) {
        const QByteArray trozo = m_puerto->Tomar(m_longitudLectura);
        if (trozo.isEmpty()) {
            break;
        }
        m_respuesta += SinEspacios(DecodificarWindows1252(trozo)).toString();
    }
    return m_respuesta.size() >= m_sondeo.longitudEsperada;
}

void Balanza::AlRecibir()
{
    // Outside a reading the bytes stay in the port; the next reading drops them.
    if (!m_sondeando) {
        return;
    }
    if (TomarRespuesta()) {
        m_sondeando = false;
        m_pausa.stop();
        Terminar(InfoRecepcionBascula(m_respuesta, m_protocolo));
    }
}

void Balanza::AlVencerPausa()
{
    if (!m_sondeando) {
        return;
    }
    if (TomarRespuesta() || m_intento >= m_cfg.Intentos) {
        m_sondeando = false;
        Terminar(InfoRecepcionBascula(m_respuesta, m_protocolo));
        return;
    }
    IniciarIntento();
}

void Balanza::AlFallarDispositivo(const QString& descripcion)
{
    QString error;
    m_puerto->Cerrar(error);
    if (m_sondeando) {
        Fallar(descripcion);
    } else {
        // One line per failure of the device, not per reading: keep it whoever asked.
        EscribirLog(QStringLiteral("? Error en puerto COM%1: ").arg(m_numeroPuerto) + descripcion);
    }
}

void Balanza::Terminar(const QString& resultado)
{
    Registrar(QStringLiteral("?? Peso devuelto: ") + resultado);
    if (!m_cfg.EsNormal() && m_puerto->EstaAbierto()) {
        QString error;
        if (!m_puerto->Cerrar(error)) {
            Fallar(error);
            return;
        }
    }
    LecturaBalanza lectura;
    lectura.peso = resultado;
    Calificar(lectura, m_respuesta, m_protocolo);
    Entregar(std::move(lectura));
}

void Balanza::Fallar(const QString& descripcion, const QString& detalle)
{
    Registrar(QStringLiteral("? Error en PedirPeso: ") + descripcion);
    LecturaBalanza lectura;
    lectura.peso = QStringLiteral("ERROR");
    lectura.estado = LecturaBalanza::Estado::Error;
    lectura.detalle = detalle.isEmpty() ? descripcion : detalle;
    Entregar(std::move(lectura));
}

void Balanza::Entregar(LecturaBalanza lectura)
{
    m_sondeando = false;
    m_pausa.stop();
    m_leyendo = false;
    m_registrar = true;
    lectura.hora = m_hora();
    lectura.instante = m_monotono();
    lectura.estable = m_historial.Agregar(lectura);
    m_ultima = lectura;
    std::vector<AlLeer> esperando;
    esperando.swap(m_esperando);
    // A caller may start the next reading, or even destroy the Balanza, from its callback.
    const QPointer<Balanza> vivo(this);
    for (AlLeer& alLeer : esperando) {
        if (!vivo) {
            break;
        }
        if (alLeer) {
            alLeer(lectura);
        }
    }
}

void Balanza::Registrar(const QString& mensaje) const
{
    if (!m_leyendo || m_registrar) {
        EscribirLog(mensaje);
    }
}

bool Balanza::CerrarPuerto()
{
    if (!m_puerto->EstaAbierto()) {
        return true;
    }
    QString error;
    if (!m_puerto->Cerrar(error)) {
        EscribirLog(QStringLiteral("? Error al cerrar puerto COM%1: ").arg(m_numeroPuerto) + error);
        return false;
    }
    return true;
}

bool Balanza::PuertoAbierto() const
{
    return m_puerto->EstaAbierto();
}

QString Balanza::SimularRespuesta() const
{
    // A single-precision value in [0, 1) written with seven significant digits; its last five characters.
    const float azar = float(QRandomGenerator::global()->bounded(1 << 24)) / float(1 << 24);
    const QString texto = QString::number(double(azar), 'g', 7);
    return texto.right(5);
}
