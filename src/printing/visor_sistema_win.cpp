#include "printing/visor_sistema.h"

#include "printing/visor_sumatra.h"

std::unique_ptr<VisorPDF> CrearVisorDelSistema(const QString& carpetaPrograma, Lanzador& lanzador)
{
    return std::make_unique<VisorSumatra>(carpetaPrograma, lanzador);
}
