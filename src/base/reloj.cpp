#include "base/reloj.h"

#include <QDateTime>
#include <QElapsedTimer>

Reloj RelojDelSistema()
{
    return [] { return QDateTime::currentMSecsSinceEpoch(); };
}

Reloj RelojMonotono()
{
    return [] {
        QElapsedTimer ahora;
        ahora.start();
        return ahora.msecsSinceReference();
    };
}
