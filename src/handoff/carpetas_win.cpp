#include "handoff/carpetas.h"

QString CarpetaDatosPorDefecto()
{
    return QStringLiteral("C:/tornavo/");
}

QString ProgramaQendraPorDefecto()
{
    return QStringLiteral("C:/Qendra/Qendra.exe");
}
