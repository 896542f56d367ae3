#include "app/proceso.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QtGlobal>

#include <csignal>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_tuberia[2] = {-1, -1};

void AlRecibirSenal(int senal)
{
    // Only async-signal-safe work here: the event loop reads the pipe and does the rest.
    const char byte = static_cast<char>(senal);
    [[maybe_unused]] const auto escritos = ::write(g_tuberia[1], &byte, 1);
}

} // namespace

void PrepararProceso()
{
#if defined(__GLIBC__)
    // glibc raises its mmap threshold after the first large buffer is freed (a log batch, a 20 MB print), so later
    // large buffers land on the heap and leave it fragmented: a resident agent would keep ~15 MB it no longer uses.
    // A fixed threshold hands large buffers back to the system as soon as they are freed.
    ::mallopt(M_MMAP_THRESHOLD, 64 * 1024);
#endif
    // Qt's own event loop rather than GLib's: GLib wakes the loop with a system call for every event posted from
    // the loop itself (a socket's deleteLater, a queued call), several per request; Qt's only once per turn.
    // Nothing in the agent needs GLib's loop.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    // With no screen to reach, run on the offscreen platform rather than failing to start.
    const bool hayPantalla = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!hayPantalla && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (qEnvironmentVariableIsEmpty("TZ") && ::access("/etc/localtime", R_OK) == 0) {
        qputenv("TZ", ":/etc/localtime");
    }
}

void AlPedirseTerminar(QObject* contexto, std::function<void()> alTerminar)
{
    if (g_tuberia[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_tuberia) != 0) {
            return;
        }
        ::fcntl(g_tuberia[1], F_SETFL, ::fcntl(g_tuberia[1], F_GETFL) | O_NONBLOCK);
    }
    auto* aviso = new QSocketNotifier(g_tuberia[0], QSocketNotifier::Read, contexto);
    QObject::connect(aviso, &QSocketNotifier::activated, aviso, [alTerminar = std::move(alTerminar)] {
        char byte = 0;
        [[maybe_unused]] const auto leidos = ::read(g_tuberia[0], &byte, 1);
        alTerminar();
    });
    struct sigaction accion = {};
    accion.sa_handler = AlRecibirSenal;
    sigemptyset(&accion.sa_mask);
    accion.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &accion, nullptr);
    ::sigaction(SIGINT, &accion, nullptr);
    ::sigaction(SIGHUP, &accion, nullptr);
}

bool PedirTerminar(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}
