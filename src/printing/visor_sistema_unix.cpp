#include "catalogo.h"
#include "visor.h"
#include "visor_lp.h"

std::unique_ptr<VisorPDF> CrearVisorDelSistema(const QString&, Lanzador& lanzador)
{
    return std::make_unique<VisorLp>(lanzador, CrearListaImpresorasDelSistema());
}
