#include "base/memoria.h"

void PreferirPaginasGrandes(const char* datos, qsizetype largo)
{
    // Large pages on Windows need a privilege a shop's user account does not hold.
    Q_UNUSED(datos);
    Q_UNUSED(largo);
}
