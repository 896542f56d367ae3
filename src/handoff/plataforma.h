#pragma once

#include <QString>

class QProcess;

// The few things that differ between Windows and the other platforms when handing files to outside programs. Each
// platform has its own plataforma_*.cpp; nothing else in the agent asks which platform it runs on.

// Asks for the program's window, if it makes one, to stay hidden.
void PrepararInicioOculto(QProcess& proceso);

// The platform's code for a start that just failed: why `programa` could not be started in `carpeta`.
int CodigoErrorInicio(const QString& programa, const QString& carpeta, const QProcess& proceso);

// Where received CSV files go unless CarpetaCSV says otherwise, with its closing separator.
QString CarpetaDatosPorDefecto();

// Qendra's program file unless ProgramaQendra says otherwise.
QString ProgramaQendraPorDefecto();
