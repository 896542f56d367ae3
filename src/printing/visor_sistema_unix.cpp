#include "printing/visor_sistema.h"

#include "printing/lista_impresoras.h"
#include "printing/visor_lp.h"

std::unique_ptr<VisorPDF> CrearVisorDelSistema(const QString&, Lanzador& lanzador)
{
    return std::make_unique<VisorLp>(lanzador, CrearListaImpresorasDelSistema());
}
