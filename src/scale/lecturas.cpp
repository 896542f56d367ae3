#include "scale/lecturas.h"

#include "base/registro.h"

#include <algorithm>
#include <limits>

namespace {

bool Difieren(const LecturaBalanza& a, const LecturaBalanza& b)
{
    return a.peso != b.peso || a.estado != b.estado || a.estable != b.estable;
}

// What a request answered from a scheduled reading logs, as if it had made the reading itself.
void RegistrarRespuesta(const LecturaBalanza& lectura)
{
    if (lectura.estado == LecturaBalanza::Estado::Error) {
        EscribirLog(QStringLiteral("? Error en PedirPeso: ") + lectura.detalle);
    } else {
        EscribirLog(QStringLiteral("?? Peso devuelto: ") + lectura.peso);
    }
}

} // namespace

LecturasBalanza::LecturasBalanza(Balanza& balanza, const Configuracion& cfg, QObject* parent)
    : QObject(parent)
    , m_balanza(balanza)
    , m_cfg(cfg)
{
    m_proxima.setSingleShot(true);
    m_proxima.setTimerType(Qt::PreciseTimer);
    connect(&m_proxima, &QTimer::timeout, this, &LecturasBalanza::LeerProgramada);
    m_vencimiento.setSingleShot(true);
    m_vencimiento.setTimerType(Qt::PreciseTimer);
    connect(&m_vencimiento, &QTimer::timeout, this, &LecturasBalanza::AlVencerEspera);
}

LecturasBalanza::~LecturasBalanza()
{
    // Nobody is called back from a half-destroyed source; a reading still under way finds it gone.
    m_suscriptores.clear();
    m_esperas.clear();
}

const LecturaBalanza* LecturasBalanza::Reciente() const
{
    const std::optional<LecturaBalanza>& ultima = m_balanza.Ultima();
    if (!m_activo || !ultima || m_balanza.Ahora() - ultima->instante >= m_cfg.IntervaloBalanza) {
        return nullptr;
    }
    return &*ultima;
}

void LecturasBalanza::PedirPeso(Responder alTerminar)
{
    if (const LecturaBalanza* reciente = Reciente()) {
        const LecturaBalanza lectura = *reciente;
        RegistrarRespuesta(lectura);
        alTerminar(lectura.peso);
        return;
    }
    m_balanza.PedirPeso(m_cfg.ProtocoloBalanza, std::move(alTerminar));
}

void LecturasBalanza::Leer(AlLeer alLeer)
{
    if (const LecturaBalanza* reciente = Reciente()) {
        const LecturaBalanza lectura = *reciente;
        RegistrarRespuesta(lectura);
        alLeer(lectura);
        return;
    }
    m_balanza.PedirLectura(m_cfg.ProtocoloBalanza, std::move(alLeer));
}

void LecturasBalanza::EsperarEstable(AlLeer alLeer)
{
    if (const LecturaBalanza* reciente = Reciente(); reciente && reciente->estable == true) {
        const LecturaBalanza lectura = *reciente;
        alLeer(lectura);
        return;
    }
    const qint64 ahora = m_balanza.Ahora();
    m_esperas.push_back({std::move(alLeer), ahora, ahora + std::max(0, m_cfg.EsperaEstable)});
    ProgramarVencimiento();
    Actualizar();
}

int LecturasBalanza::Suscribir(AlLeer alCambiar)
{
    const int id = m_proximoId++;
    m_suscriptores.emplace(id, std::move(alCambiar));
    // Already running: the newcomer starts from the latest reading, which the others already have.
    if (m_activo && !m_primeraDelTurno && m_notificada) {
        QTimer::singleShot(0, this, [this, id] {
            const auto it = m_suscriptores.find(id);
            if (it != m_suscriptores.end() && m_notificada) {
                const AlLeer alCambiar = it->second;
                const LecturaBalanza lectura = *m_notificada;
                alCambiar(lectura);
            }
        });
    }
    Actualizar();
    return id;
}

void LecturasBalanza::Desuscribir(int id)
{
    m_suscriptores.erase(id);
    Actualizar();
}

QString LecturasBalanza::Documento(const LecturaBalanza& lectura) const
{
    return DocumentoLectura(lectura, m_cfg.ProtocoloBalanza, m_balanza.Ahora());
}

QString LecturasBalanza::DocumentoActual() const
{
    const std::optional<LecturaBalanza>& ultima = m_balanza.Ultima();
    return ultima ? Documento(*ultima) : QString();
}

void LecturasBalanza::Actualizar()
{
    const bool activo = !m_suscriptores.empty() || !m_esperas.empty();
    if (activo == m_activo) {
        return;
    }
    m_activo = activo;
    if (!activo) {
        m_proxima.stop();
        return;
    }
    m_primeraDelTurno = true;
    if (!m_estadoRegistrado) {
        const std::optional<LecturaBalanza>& ultima = m_balanza.Ultima();
        m_estadoRegistrado = ultima ? ultima->estado : LecturaBalanza::Estado::Ok;
    }
    // A reading still under way from the last turn schedules the next one when it ends.
    if (!m_leyendo) {
        LeerProgramada();
    }
}

void LecturasBalanza::LeerProgramada()
{
    m_leyendo = true;
    m_inicioLectura = m_balanza.Ahora();
    const QPointer<LecturasBalanza> vivo(this);
    m_balanza.PedirLectura(
        m_cfg.ProtocoloBalanza,
        [vivo](const LecturaBalanza& lectura) {
            if (vivo) {
                vivo->AlLeerProgramada(lectura);
            }
        },
        false);
}

void LecturasBalanza::AlLeerProgramada(const LecturaBalanza& lectura)
{
    m_leyendo = false;
    if (m_estadoRegistrado != lectura.estado) {
        m_estadoRegistrado = lectura.estado;
        QString linea = QStringLiteral("?? Estado de la balanza: ") + NombreEstado(lectura.estado);
        if (lectura.estado == LecturaBalanza::Estado::Error) {
            linea += QStringLiteral(" (") + lectura.detalle + u')';
        }
        EscribirLog(linea);
    }
    // Callbacks may leave, ask again, or end the agent.
    const QPointer<LecturasBalanza> vivo(this);
    ResolverEsperas(lectura);
    if (!vivo) {
        return;
    }
    Notificar(lectura);
    if (!vivo || !m_activo || m_leyendo) {
        return;
    }
    const qint64 transcurrido = m_balanza.Ahora() - m_inicioLectura;
    m_proxima.start(int(std::clamp<qint64>(m_cfg.IntervaloBalanza - transcurrido, 0, m_cfg.IntervaloBalanza)));
}

void LecturasBalanza::Notificar(const LecturaBalanza& lectura)
{
    if (!m_activo) {
        return;
    }
    const bool primera = m_primeraDelTurno;
    m_primeraDelTurno = false;
    if (!primera && m_notificada && !Difieren(*m_notificada, lectura)) {
        return;
    }
    m_notificada = lectura;
    const QPointer<LecturasBalanza> vivo(this);
    emit cambio(lectura);
    std::vector<int> ids;
    for (const auto& [id, alCambiar] : m_suscriptores) {
        ids.push_back(id);
    }
    for (int id : ids) {
        if (!vivo) {
            return;
        }
        const auto it = m_suscriptores.find(id);
        if (it == m_suscriptores.end()) {
            continue;
        }
        // A copy: the follower may leave from inside its own callback.
        const AlLeer alCambiar = it->second;
        alCambiar(lectura);
    }
}

void LecturasBalanza::ResolverEsperas(const LecturaBalanza& lectura)
{
    if (m_esperas.empty()) {
        return;
    }
    const qint64 ahora = m_balanza.Ahora();
    const bool definitiva = lectura.estable == true || lectura.estado == LecturaBalanza::Estado::Error;
    LecturaBalanza respuesta = lectura;
    if (!definitiva) {
        respuesta.estable = false;
    }
    std::vector<AlLeer> resueltas;
    std::vector<EsperaEstable> siguen;
    for (EsperaEstable& espera : m_esperas) {
        if (definitiva || espera.limite <= ahora) {
            resueltas.push_back(std::move(espera.alLeer));
        } else {
            siguen.push_back(std::move(espera));
        }
    }
    m_esperas = std::move(siguen);
    ProgramarVencimiento();
    Entregar(resueltas, respuesta);
}

void LecturasBalanza::AlVencerEspera()
{
    const qint64 ahora = m_balanza.Ahora();
    const std::optional<LecturaBalanza>& ultima = m_balanza.Ultima();
    std::vector<AlLeer> resueltas;
    std::vector<EsperaEstable> siguen;
    for (EsperaEstable& espera : m_esperas) {
        // One that has seen no reading yet gets the one under way, when it ends.
        if (espera.limite <= ahora && ultima && ultima->instante >= espera.llegada) {
            resueltas.push_back(std::move(espera.alLeer));
        } else {
            siguen.push_back(std::move(espera));
        }
    }
    m_esperas = std::move(siguen);
    ProgramarVencimiento();
    if (resueltas.empty()) {
        return;
    }
    LecturaBalanza respuesta = *ultima;
    respuesta.estable = ultima->estable == true;
    Entregar(resueltas, respuesta);
}

void LecturasBalanza::Entregar(const std::vector<AlLeer>& resueltas, const LecturaBalanza& respuesta)
{
    // A caller's answer may end this object (the agent shutting down): nothing of it is touched after that.
    const QPointer<LecturasBalanza> vivo(this);
    for (const AlLeer& alLeer : resueltas) {
        if (!vivo) {
            return;
        }
        alLeer(respuesta);
    }
    if (vivo) {
        Actualizar();
    }
}

void LecturasBalanza::ProgramarVencimiento()
{
    const qint64 ahora = m_balanza.Ahora();
    qint64 proximo = std::numeric_limits<qint64>::max();
    for (const EsperaEstable& espera : m_esperas) {
        if (espera.limite > ahora) {
            proximo = std::min(proximo, espera.limite);
        }
    }
    if (proximo == std::numeric_limits<qint64>::max()) {
        m_vencimiento.stop();
        return;
    }
    m_vencimiento.start(int(std::min<qint64>(proximo - ahora, std::numeric_limits<int>::max())));
}
