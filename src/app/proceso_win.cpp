#include "app/proceso.h"

#include <QObject>
#include <QString>
#include <QWinEventNotifier>

#include <qt_windows.h>

namespace {

// Within the user's session, as the agent is: an installer or script run by that user reaches it.
QString NombreEvento(qint64 pid)
{
    return QStringLiteral("Local\\PluginTornavo-Detener-%1").arg(pid);
}

} // namespace

void PrepararProceso() {}

void AlPedirseTerminar(QObject* contexto, std::function<void()> alTerminar)
{
    const HANDLE evento =
        CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<LPCWSTR>(NombreEvento(GetCurrentProcessId()).utf16()));
    if (evento == nullptr) {
        return;
    }
    auto* aviso = new QWinEventNotifier(evento, contexto);
    QObject::connect(aviso, &QObject::destroyed, [evento] { CloseHandle(evento); });
    QObject::connect(aviso, &QWinEventNotifier::activated, aviso, [aviso, alTerminar = std::move(alTerminar)](HANDLE) {
        aviso->setEnabled(false);
        alTerminar();
    });
}

bool PedirTerminar(qint64 pid)
{
    const HANDLE evento = OpenEventW(EVENT_MODIFY_STATE, FALSE, reinterpret_cast<LPCWSTR>(NombreEvento(pid).utf16()));
    if (evento == nullptr) {
        return false;
    }
    const bool puesto = SetEvent(evento) != 0;
    CloseHandle(evento);
    return puesto;
}
