#pragma once

#include "support/agente_prueba.h"

#include <QStringList>

namespace soporte {

// Checks the agent's GET /impresoras: answered, "PREDETERMINADA" first, then exactly `esperadas` in any order.
// Like any QTest check outside a test function, a failure returns from here only: call it last.
void CompararCatalogo(const ClienteAgente& agente, QStringList esperadas);

} // namespace soporte
