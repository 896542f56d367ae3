#include "base/registro.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

Registro* g_registro = nullptr;

constexpr int kDiasRetencion = 7;

} // namespace

Registro::Registro(const QString& carpetaPrograma, Reloj reloj, TopeRegistro tope, QObject* parent)
    : QObject(parent)
    , m_carpetaLogs(QDir(carpetaPrograma).filePath(QStringLiteral("logs")))
    , m_reloj(std::move(reloj))
    , m_tope(tope.bytes)
{
    m_resumen.setInterval(tope.msResumen);
    m_resumen.setSingleShot(true);
    connect(&m_resumen, &QTimer::timeout, this, &Registro::Resumir);
}

Registro::~Registro()
{
    if (g_registro == this) {
        g_registro = nullptr;
    }
}

QString Registro::ArchivoDelDia(const QDate& dia) const
{
    return m_carpetaLogs + QStringLiteral("/log_") + dia.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".log");
}

void Registro::ActualizarSello(qint64 ms)
{
    const qint64 segundo = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (segundo == m_segundoSello) {
        return;
    }
    // Converting to local time is the costly part; it is done once per second, not per line.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(segundo * 1000);
    m_segundoSello = segundo;
    m_sello = local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (local.date() != m_dia) {
        m_dia = local.date();
        m_rutaArchivo = ArchivoDelDia(m_dia);
        m_bytesDelDia = -1;
    }
}

void Registro::Escribir(const QString& mensaje)
{
    const qint64 ahora = m_reloj();
    ActualizarSello(ahora);
    if (m_bytesDelDia < 0) {
        m_bytesDelDia = QFileInfo(m_rutaArchivo).size();
    }
    if (m_bytesDelDia >= m_tope) {
        ++m_omitidas;
        if (!m_resumen.isActive()) {
            m_resumen.start();
        }
    } else {
        QString linea;
        linea.reserve(m_sello.size() + mensaje.size() + 3);
        linea += u'[';
        linea += m_sello;
        linea += QLatin1String("] ");
        linea += mensaje;
        Emitir(linea);
    }

    // Listing the folder after every line would dominate the cost of logging; once a second (and on every new
    // day) deletes the same files, just as promptly as anyone can see.
    if (!m_diaLimpieza.isValid() || ahora - m_ultimaLimpieza >= 1000 || ahora < m_ultimaLimpieza ||
        m_dia != m_diaLimpieza) {
        m_ultimaLimpieza = ahora;
        m_diaLimpieza = m_dia;
        LimpiarLogsAntiguos(m_carpetaLogs, kDiasRetencion, m_dia);
    }
}

void Registro::Emitir(const QString& linea)
{
    // The window sees the line before the file does.
    emit lineaEscrita(linea);

    QFile archivo(m_rutaArchivo);
    bool abierto = archivo.open(QIODevice::WriteOnly | QIODevice::Append);
    if (!abierto && !QFileInfo::exists(m_carpetaLogs) && QDir().mkpath(m_carpetaLogs)) {
        abierto = archivo.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    if (abierto) {
        QByteArray bytes = linea.toUtf8();
        bytes += "\r\n";
        // The size as it is on disk: someone may have deleted or emptied the file meanwhile.
        m_bytesDelDia = archivo.size() + bytes.size();
        archivo.write(bytes);
        archivo.close();
    }
}

void Registro::Resumir()
{
    if (m_omitidas == 0) {
        return;
    }
    const qint64 ahora = m_reloj();
    ActualizarSello(ahora);
    const qint64 omitidas = m_omitidas;
    m_omitidas = 0;
    Emitir(QStringLiteral("[%1] ... %2 líneas más sin registrar: el registro de hoy llegó a su tamaño máximo")
               .arg(m_sello)
               .arg(omitidas));
}

void LimpiarLogsAntiguos(const QString& carpeta, int dias, const QDate& hoy)
{
    static const QStringList kFiltro{QStringLiteral("log_*.log")};
    const QDateTime corte(hoy.addDays(-dias), QTime(0, 0));
    QDir dir(carpeta);
    // Without QDir::CaseSensitive the pattern matches in any case; hidden and system files are left out.
    const QFileInfoList archivos = dir.entryInfoList(kFiltro, QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& info : archivos) {
        const QDateTime modificado = info.lastModified();
        if (modificado.isValid() && modificado < corte) {
            QFile::remove(info.absoluteFilePath());
        }
    }
}

void InstalarRegistro(Registro* registro)
{
    g_registro = registro;
}

void EscribirLog(const QString& mensaje)
{
    if (g_registro != nullptr) {
        g_registro->Escribir(mensaje);
        return;
    }
    std::fprintf(stderr, "%s\n", mensaje.toUtf8().constData());
}
