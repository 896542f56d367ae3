#pragma once

#include <QtGlobal>

#include <functional>

// A clock as a value, handed to whatever needs the time when it is built, so that tests can cross midnight, age
// files or count an uptime without waiting, each test with a clock of its own.
using Reloj = std::function<qint64()>;

// The wall clock: milliseconds since the epoch (1970-01-01 00:00 UTC). Dates, time stamps and the day's file come
// from it; it jumps when the system's time is set.
Reloj RelojDelSistema();

// Milliseconds from an arbitrary start, not the epoch, and never set back: for durations, such as how long something
// has waited, that a change of the system's time must not stretch or cut short.
Reloj RelojMonotono();
