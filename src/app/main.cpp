#include "app/agente.h"
#include "app/avisos_ventana.h"
#include "app/proceso.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    PrepararProceso();
    QApplication aplicacion(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Plugin Tornavo"));
    InstalarAvisosDeVentana();

    // For installers and scripts: stops the agent that runs from this folder's settings, then ends.
    if (QCoreApplication::arguments().contains(QStringLiteral("--detener"))) {
        return Agente::DetenerEnEjecucion(QCoreApplication::applicationDirPath());
    }

    Agente agente(QCoreApplication::applicationDirPath());
    // The log-in start (the autostart entry) keeps the window behind the icon.
    agente.FijarInicioEnBandeja(QCoreApplication::arguments().contains(QStringLiteral("--bandeja")));
    if (const auto codigo = agente.Iniciar()) {
        return *codigo;
    }
    return QApplication::exec();
}
