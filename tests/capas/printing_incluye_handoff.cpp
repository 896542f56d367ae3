// Must not compile: printing sits beside handoff, not above it.
#include "handoff/entrega_csv.h"
#include "printing/impresion.h"

bool Valido(const QString& nombre)
{
    return NombreArchivoValido(nombre);
}
