#pragma once

#include <QString>

class QProcess;

// What differs between platforms when the launcher starts an outside program.

// Asks for the program's window, if it makes one, to stay hidden.
void PrepararInicioOculto(QProcess& proceso);

// The platform's code for a start that just failed: why `programa` could not be started in `carpeta`.
int CodigoErrorInicio(const QString& programa, const QString& carpeta, const QProcess& proceso);
