#include "printing/visor_sistema.h"

#include "printing/lista_impresoras.h"
#include "printing/spooler.h"
#include "printing/visor_cups.h"

std::unique_ptr<VisorPDF> CrearVisorDelSistema(const QString&, Lanzador&)
{
    return std::make_unique<VisorCups>(CrearSpoolerDelSistema(), CrearListaImpresorasDelSistema());
}
