#include "app/agente.h"
#include "app/avisos_ventana.h"
#include "app/proceso.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    PrepararProceso();
    // With no screen to reach, run on the offscreen platform rather than failing to start.
    if (!HayPantalla() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication aplicacion(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Plugin Tornavo"));
    // The agent ends only through its confirmed shut-down: a message box closed while the window is in the tray
    // would otherwise be the last visible window, and closing it would end the process.
    QApplication::setQuitOnLastWindowClosed(false);
    InstalarAvisosDeVentana();

    Agente agente(QCoreApplication::applicationDirPath());
    // The log-in start (the autostart entry) keeps the window behind the icon.
    agente.FijarInicioEnBandeja(QCoreApplication::arguments().contains(QStringLiteral("--bandeja")));
    if (const auto codigo = agente.Iniciar()) {
        return *codigo;
    }
    return QApplication::exec();
}
