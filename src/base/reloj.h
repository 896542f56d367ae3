#pragma once

#include <QtGlobal>

#include <functional>

// The agent's one clock: milliseconds since the epoch (UTC). Whatever needs the time takes one, so that tests can
// cross midnight, age files or count an uptime without waiting.
using Reloj = std::function<qint64()>;

Reloj RelojDelSistema();
// Milliseconds from an arbitrary start, never set back: for measuring how long something has waited.
Reloj RelojMonotono();
