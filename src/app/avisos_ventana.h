#pragma once

// Shows the agent's message boxes as real modal boxes, unless nobody can see them (offscreen platform).
void InstalarAvisosDeVentana();

bool PlataformaSinPantalla();
