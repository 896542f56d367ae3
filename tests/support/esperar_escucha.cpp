#include "support/esperar_escucha.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThread>

namespace soporte {

bool EsperarEscucha(QProcess& proceso, quint16 puerto, int msEspera, const QHostAddress& direccion)
{
    if (!proceso.waitForStarted(msEspera)) {
        return false;
    }
    const QDeadlineTimer limite(msEspera);
    while (!limite.hasExpired()) {
        if (proceso.state() != QProcess::Running) {
            return false;
        }
        QTcpSocket sonda;
        sonda.connectToHost(direccion, puerto);
        if (sonda.waitForConnected(200)) {
            sonda.abort();
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

} // namespace soporte
