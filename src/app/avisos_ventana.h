#pragma once

#include "app/avisos.h"

#include <QString>

#include <memory>

class QMessageBox;

// Shows the agent's message boxes as real modal boxes, unless nobody can see them (offscreen platform).
void InstalarAvisosDeVentana();

// The box as it is shown: Spanish buttons whatever the system's language, as a Spanish Windows labels its own
// ("&Sí", "&No", "Aceptar"; S and N answer from the keyboard), and No the default of a question.
std::unique_ptr<QMessageBox> CrearCajaAviso(const QString& texto, IconoAviso icono, BotonesAviso botones);

bool PlataformaSinPantalla();
