#include "scale/lectura.h"

#include "base/texto.h"
#include "scale/decodificacion.h"

#include <QDateTime>
#include <QRegularExpression>

#include <cmath>

namespace {

// A plain decimal number, as the decoded weights are written; nothing else counts as kilograms.
std::optional<double> NumeroDecimal(const QString& texto)
{
    static const QRegularExpression numero(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    const QString limpio = SinEspacios(texto).toString();
    if (!numero.match(limpio).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const double valor = limpio.toDouble(&ok);
    if (!ok || !std::isfinite(valor)) {
        return std::nullopt;
    }
    return valor;
}

// The families whose weight is the number at the start of the reply (InfoRecepcionBascula's order of rules).
bool LeeNumeroDeLaRespuesta(const QString& protocolo)
{
    const QString nombre = protocolo.toUpper();
    if (nombre.startsWith(QLatin1String("KRETZ"))) {
        return false;
    }
    return nombre.startsWith(QLatin1String("SYSTEL")) || nombre.endsWith(QLatin1String("100KG"));
}

QString TextoJSON(const QString& texto)
{
    return u'"' + EscaparJSON(texto) + u'"';
}

} // namespace

QString NombreEstado(LecturaBalanza::Estado estado)
{
    switch (estado) {
    case LecturaBalanza::Estado::Ok:
        return QStringLiteral("ok");
    case LecturaBalanza::Estado::SinRespuesta:
        return QStringLiteral("sin respuesta");
    case LecturaBalanza::Estado::Ilegible:
        return QStringLiteral("ilegible");
    case LecturaBalanza::Estado::Error:
        return QStringLiteral("error");
    }
    return QString();
}

void Calificar(LecturaBalanza& lectura, const QString& respuesta, const QString& protocolo)
{
    lectura.kg.reset();
    if (respuesta.isEmpty()) {
        lectura.estado = LecturaBalanza::Estado::SinRespuesta;
        return;
    }
    // A Systel scale's "ST,GS" reads as 0.000: a zero that the scale never sent.
    if (LeeNumeroDeLaRespuesta(protocolo) && !EmpiezaConNumero(respuesta)) {
        lectura.estado = LecturaBalanza::Estado::Ilegible;
        return;
    }
    lectura.kg = NumeroDecimal(lectura.peso);
    lectura.estado = lectura.kg ? LecturaBalanza::Estado::Ok : LecturaBalanza::Estado::Ilegible;
}

QString DocumentoLectura(const LecturaBalanza& lectura, const QString& protocolo, qint64 ahora)
{
    QString documento = QStringLiteral("{\"peso\":") + TextoJSON(lectura.peso);
    documento +=
        QStringLiteral(",\"kg\":") + (lectura.kg ? QString::number(*lectura.kg, 'g', 15) : QStringLiteral("null"));
    documento += QStringLiteral(",\"estado\":") + TextoJSON(NombreEstado(lectura.estado));
    if (lectura.estado == LecturaBalanza::Estado::Error) {
        documento += QStringLiteral(",\"detalle\":") + TextoJSON(lectura.detalle);
    }
    documento += QStringLiteral(",\"estable\":");
    if (lectura.estable) {
        documento += *lectura.estable ? QStringLiteral("true") : QStringLiteral("false");
    } else {
        documento += QStringLiteral("null");
    }
    documento += QStringLiteral(",\"protocolo\":") + TextoJSON(protocolo);
    const QString hora =
        QDateTime::fromMSecsSinceEpoch(lectura.hora).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    documento += QStringLiteral(",\"hora\":") + TextoJSON(hora);
    documento += QStringLiteral(",\"edadMs\":") + QString::number(std::max<qint64>(0, ahora - lectura.instante));
    documento += u'}';
    return documento;
}

HistorialPesos::HistorialPesos(qint64 ventanaMs, qint64 huecoMs)
    : m_ventanaMs(std::max<qint64>(0, ventanaMs))
    , m_huecoMs(std::max<qint64>(0, huecoMs))
{
}

std::optional<bool> HistorialPesos::Agregar(const LecturaBalanza& lectura)
{
    const bool ok = lectura.estado == LecturaBalanza::Estado::Ok;
    m_puntos.push_back({lectura.instante, ok, lectura.peso});
    // The newest reading at or before the window's start tells what the weight was when the window opened; older
    // ones say nothing more.
    const qint64 inicio = lectura.instante - m_ventanaMs;
    while (m_puntos.size() >= 2 && m_puntos[1].instante <= inicio) {
        m_puntos.pop_front();
    }
    if (!ok) {
        return false;
    }
    for (auto i = m_puntos.size() - 1; i > 0; --i) {
        const Punto& anterior = m_puntos[i - 1];
        if (m_puntos[i].instante - anterior.instante > m_huecoMs) {
            return std::nullopt; // nothing vouches for the weight in between
        }
        if (!anterior.ok || anterior.peso != lectura.peso) {
            return false;
        }
    }
    if (m_puntos.front().instante > inicio) {
        return std::nullopt;
    }
    return true;
}
