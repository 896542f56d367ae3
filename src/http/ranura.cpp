#include "http/ranura.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

// Below the allocator's mapping threshold (set at start-up).
constexpr qint64 kBufferLectura = 48 * 1024;

// A head still without its blank line past this size is judged on what it holds: a refused sender must not make
// the agent hold megabytes of it.
constexpr qsizetype kCabeceraSinFin = 64 * 1024;

} // namespace

Ranura::Ranura(const TiemposServidor& tiempos)
    : m_tiempos(tiempos)
{
    silencio.setSingleShot(true);
    inactividad.setSingleShot(true);
    plazo.setSingleShot(true);
}

void Ranura::Reiniciar()
{
    silencio.stop();
    inactividad.stop();
    plazo.stop();
    ensamblador.Reiniciar();
    lector.reset();
    atendida = false;
    m_actividad = 0;
    m_desde = 0;
    m_conBytes = false;
    m_continuarEnviado = false;
    m_juzgada = false;
    m_lectorDecidido = false;
}

void Ranura::Ocupar(QTcpSocket* conexion, quint64 nuevaGeneracion, qint64 llegada)
{
    Reiniciar();
    // Small reads: each block comes from the heap and is used over and over, where reads of megabytes would map
    // fresh memory for each and fault it in page by page.
    conexion->setReadBufferSize(kBufferLectura);
    socket = conexion;
    generacion = nuevaGeneracion;
    inactividad.start(m_tiempos.inactividadMs);
    m_actividad = m_tiempos.reloj();
    m_desde = llegada;
}

QTcpSocket* Ranura::Soltar()
{
    Reiniciar();
    QTcpSocket* conexion = socket;
    socket = nullptr;
    generacion = 0;
    return conexion;
}

VistaRanura Ranura::Vista() const
{
    if (!socket) {
        return VistaRanura{VistaRanura::Estado::Libre};
    }
    return VistaRanura{atendida ? VistaRanura::Estado::Atendida : VistaRanura::Estado::Ocupada, m_actividad, m_desde,
                       ensamblador.Datos().size()};
}

EnsambladorSolicitud::Estado Ranura::Recibir(const QByteArray& bytes)
{
    if (!m_conBytes && !bytes.isEmpty()) {
        m_conBytes = true;
        m_desde = m_tiempos.reloj();
        plazo.start(m_tiempos.plazoBaseMs);
    }
    const bool teniaCabecera = ensamblador.CabeceraCompleta();
    const EnsambladorSolicitud::Estado estado = ensamblador.Agregar(bytes);
    if (!teniaCabecera && ensamblador.CabeceraCompleta() && estado == EnsambladorSolicitud::Estado::Incompleta) {
        const qint64 total = m_tiempos.plazoBaseMs + ensamblador.LargoCuerpo() * 1000 / kRitmoMinimo;
        plazo.start(static_cast<int>(std::max<qint64>(1, total - (m_tiempos.reloj() - m_desde))));
    }
    return estado;
}

std::optional<QByteArrayView> Ranura::CabeceraPorJuzgar()
{
    if (m_juzgada || (!ensamblador.CabeceraCompleta() && ensamblador.Datos().size() <= kCabeceraSinFin)) {
        return std::nullopt;
    }
    m_juzgada = true;
    return ensamblador.CabeceraCompleta() ? ensamblador.Cabecera() : QByteArrayView(ensamblador.Datos());
}

void Ranura::Esperar(const LectorPara& lectorPara)
{
    if (ensamblador.PideContinuar() && !m_continuarEnviado) {
        m_continuarEnviado = true;
        socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    }
    inactividad.start(m_tiempos.inactividadMs);
    m_actividad = m_tiempos.reloj();
    if (!ensamblador.CabeceraCompleta()) {
        silencio.start(m_tiempos.silencioCabeceraMs);
        return;
    }
    silencio.stop();
    // A large body is read while the rest of it is still on the wire.
    if (!m_lectorDecidido) {
        m_lectorDecidido = true;
        lector = lectorPara(ensamblador.Cabecera());
    }
    if (lector) {
        lector->Avanzar(ensamblador.Cuerpo());
    }
}

void Ranura::Atender()
{
    atendida = true;
    silencio.stop();
    inactividad.stop();
    plazo.stop();
}

qint64 Ranura::CuerpoPorLlegar() const
{
    return ensamblador.CabeceraCompleta()
               ? std::max<qint64>(0, ensamblador.LargoCuerpo() - ensamblador.CuerpoRecibido())
               : -1;
}
