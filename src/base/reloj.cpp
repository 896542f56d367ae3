#include "base/reloj.h"

#include <QDateTime>

Reloj RelojDelSistema()
{
    return [] { return QDateTime::currentMSecsSinceEpoch(); };
}
