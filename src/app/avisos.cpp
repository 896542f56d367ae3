#include "app/avisos.h"

#include <cstdio>

namespace {

MostradorAvisos& Mostrador()
{
    static MostradorAvisos mostrador;
    return mostrador;
}

} // namespace

void InstalarMostradorAvisos(MostradorAvisos mostrador)
{
    Mostrador() = std::move(mostrador);
}

RespuestaAviso AvisoSinPantalla(const QString& texto, BotonesAviso botones)
{
    std::fprintf(stderr, "%s\n", texto.toUtf8().constData());
    std::fflush(stderr);
    return botones == BotonesAviso::SiNo ? RespuestaAviso::No : RespuestaAviso::Aceptar;
}

RespuestaAviso MostrarAviso(const QString& texto, IconoAviso icono, BotonesAviso botones)
{
    if (Mostrador()) {
        return Mostrador()(texto, icono, botones);
    }
    return AvisoSinPantalla(texto, botones);
}
