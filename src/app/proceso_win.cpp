#include "app/proceso.h"

bool HayPantalla()
{
    return true;
}

void PrepararProceso() {}

void AlPedirseTerminar(QObject*, std::function<void()>)
{
    // Windows ends a desktop program through its session messages, which the window's close handling covers.
}
