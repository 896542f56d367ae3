// Must not compile: only the application shell links Widgets.
#include "http/servidor.h"

#include <QWidget>

QWidget* Ventana()
{
    return new QWidget;
}
