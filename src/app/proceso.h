#pragma once

#include <QtGlobal>

#include <functional>

class QObject;

// What differs between operating systems for the application shell.

// Settings of the process made before Qt starts: the offscreen platform where no screen can be reached (on Linux,
// neither DISPLAY nor WAYLAND_DISPLAY set; PlataformaSinPantalla tells it afterwards), the time zone named once (with
// TZ unset, the C library re-reads the system's zone file on every local-time conversion, several per request), and how
// large buffers are returned to the system.
void PrepararProceso();

// Runs `alTerminar` from the event loop when the process is asked to end without a question, for as long as
// `contexto` lives: SIGTERM, SIGINT or SIGHUP on Linux; on Windows, where a desktop program gets no such signal
// (the end of the session reaches the window), the event PedirTerminar sets.
void AlPedirseTerminar(QObject* contexto, std::function<void()> alTerminar);

// Asks the process `pid`, an agent, to end as above. False when it could not be asked.
bool PedirTerminar(qint64 pid);
