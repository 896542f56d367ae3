#pragma once

#include <functional>

class QObject;

// What differs between operating systems for the application shell.

// True when a screen can be reached (on Linux: DISPLAY or WAYLAND_DISPLAY is set; always on Windows).
bool HayPantalla();

// Settings of the process made before Qt starts: the time zone named once (with TZ unset, the C library re-reads
// the system's zone file on every local-time conversion, several per request), and how large buffers are returned
// to the system.
void PrepararProceso();

// Runs `alTerminar` from the event loop when the service manager asks the process to end (SIGTERM, SIGINT,
// SIGHUP on Linux; nothing on Windows, whose session messages reach the window instead), for as long as `contexto`
// lives.
void AlPedirseTerminar(QObject* contexto, std::function<void()> alTerminar);
