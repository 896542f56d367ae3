#include "support/balanza_simulada.h"

#include "support/soporte.h"

#include <QFile>
#include <QFileInfo>

namespace soporte {

BalanzaSimulada::BalanzaSimulada(const QString& carpeta)
    : m_enlace(carpeta + QStringLiteral("/ttyBalanza"))
    , m_informe(carpeta + QStringLiteral("/informe.txt"))
{
}

BalanzaSimulada::~BalanzaSimulada()
{
    Detener();
    for (const QString& ruta : m_otrosEnlaces) {
        QFile::remove(ruta);
    }
}

bool BalanzaSimulada::Iniciar(const QStringList& argumentos)
{
    m_proceso.setProgram(CarpetaBinarios() + QStringLiteral("/balanza-simulada"));
    m_proceso.setArguments(argumentos + QStringList{"--enlace", m_enlace, "--informe", m_informe});
    m_proceso.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_proceso.start();
    if (!m_proceso.waitForStarted(10000)) {
        return false;
    }
    while (!m_proceso.canReadLine() && m_proceso.waitForReadyRead(10000)) {
    }
    return QString::fromLocal8Bit(m_proceso.readLine()).trimmed() == m_enlace;
}

bool BalanzaSimulada::EnlazarTambien(const QString& ruta)
{
    QFile::remove(ruta);
    m_otrosEnlaces << ruta;
    return QFile::link(QFileInfo(m_enlace).symLinkTarget(), ruta);
}

bool BalanzaSimulada::Ordenar(const QByteArray& orden)
{
    m_proceso.write(orden + '\n');
    while (!m_proceso.canReadLine() && m_proceso.waitForReadyRead(10000)) {
    }
    return m_proceso.readLine().trimmed() == "ok";
}

void BalanzaSimulada::Detener()
{
    DetenerProceso(m_proceso, 5000);
}

QString BalanzaSimulada::Campo(const QString& clave) const
{
    const QString prefijo = clave + QStringLiteral(": ");
    for (const QString& linea : QString::fromUtf8(LeerArchivo(m_informe)).split(u'\n')) {
        if (linea.startsWith(prefijo)) {
            return linea.mid(prefijo.size());
        }
    }
    return QString();
}

} // namespace soporte
