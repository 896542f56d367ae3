#include "handoff/carpetas.h"

#include <QDir>

QString CarpetaDatosPorDefecto()
{
    return QDir::homePath() + QStringLiteral("/tornavo/");
}

QString ProgramaQendraPorDefecto()
{
    return QDir::homePath() + QStringLiteral("/Qendra/Qendra");
}
