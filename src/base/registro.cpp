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
    Vaciar();
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
        Vaciar(); // the lines waiting belong to the day that ends
        m_dia = local.date();
        m_rutaArchivo = ArchivoDelDia(m_dia);
        // Let go of the last day's file: retention may have to remove it one day, and on Windows nothing held can go.
        m_archivo.Cerrar();
        m_bytesDelDia = 0;
        m_cuentaLeida = false;
    }
}

bool Registro::AbrirArchivo()
{
    qint64 tamano = m_archivo.Abrir(m_rutaArchivo);
    if (tamano < 0 && !QFileInfo::exists(m_carpetaLogs) && QDir().mkpath(m_carpetaLogs)) {
        tamano = m_archivo.Abrir(m_rutaArchivo);
    }
    if (tamano < 0) {
        return false;
    }
    m_bytesDelDia = tamano + m_pendiente.size();
    m_cuentaLeida = m_pendiente.isEmpty();
    return true;
}

void Registro::RevisarArchivo()
{
    // Others may have removed the file, put another in its place, emptied it or written to it since it was opened.
    // Removed or replaced, it is let go, and the next line goes to whatever the name holds then; otherwise the count
    // starts again from the size it has.
    if (!m_archivo.Abierto()) {
        return;
    }
    const qint64 tamano = m_archivo.TamanoSiSigue(m_rutaArchivo);
    if (tamano < 0) {
        m_archivo.Cerrar();
        return;
    }
    m_bytesDelDia = tamano + m_pendiente.size();
    m_cuentaLeida = m_pendiente.isEmpty();
}

void Registro::Escribir(const QString& mensaje)
{
    const qint64 ahora = m_reloj();
    ActualizarSello(ahora);
    // Looking up the file and listing the folder for every line would cost more than the line itself; once a second
    // (and on every new day) finds the same changes, just as promptly as anyone can see.
    const bool revisar = !m_diaLimpieza.isValid() || ahora - m_ultimaLimpieza >= 1000 || ahora < m_ultimaLimpieza ||
                         m_dia != m_diaLimpieza;
    if (revisar) {
        RevisarArchivo();
    }
    if (!m_archivo.Abierto()) {
        AbrirArchivo();
    }
    // The count may have run ahead of the file (emptied by someone meanwhile): the file has the last word before
    // lines are refused.
    if (m_bytesDelDia >= m_tope && !m_cuentaLeida) {
        RevisarArchivo();
        if (!m_archivo.Abierto()) {
            AbrirArchivo();
        }
        m_cuentaLeida = true;
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

    if (revisar) {
        m_ultimaLimpieza = ahora;
        m_diaLimpieza = m_dia;
        LimpiarLogsAntiguos(m_carpetaLogs, kDiasRetencion, m_dia);
    }
}

void Registro::Emitir(const QString& linea)
{
    // The window sees the line before the file does.
    emit lineaEscrita(linea);

    if (!m_archivo.Abierto() && !AbrirArchivo()) {
        return;
    }
    const qsizetype antes = m_pendiente.size();
    m_pendiente += linea.toUtf8();
    m_pendiente += "\r\n";
    m_bytesDelDia += m_pendiente.size() - antes;
    m_cuentaLeida = false;
    if (m_lotes == 0 || m_pendiente.size() >= 64 * 1024) {
        Vaciar();
    }
}

void Registro::Vaciar()
{
    if (m_pendiente.isEmpty()) {
        return;
    }
    const bool escrito = (m_archivo.Abierto() || AbrirArchivo()) && m_archivo.Anexar(m_pendiente);
    if (!escrito) {
        // The lines are lost, as with any file that cannot be written. The next line opens the file again: a full
        // disk may have room by then, a folder that went away be back.
        m_archivo.Cerrar();
        m_bytesDelDia -= m_pendiente.size();
    }
    m_pendiente.clear();
}

LoteRegistro::LoteRegistro()
    : m_registro(g_registro)
{
    if (m_registro != nullptr) {
        ++m_registro->m_lotes;
    }
}

LoteRegistro::~LoteRegistro()
{
    if (m_registro != nullptr && --m_registro->m_lotes == 0) {
        m_registro->Vaciar();
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
