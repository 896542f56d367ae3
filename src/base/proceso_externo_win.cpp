#include "base/proceso_externo.h"

#include <QFileInfo>
#include <QProcess>

#include <qt_windows.h>

void PrepararInicioOculto(QProcess& proceso)
{
    proceso.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* argumentos) {
        argumentos->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        argumentos->startupInfo->wShowWindow = SW_HIDE;
    });
}

int CodigoErrorInicio(const QString& programa, const QString& carpeta, const QProcess&)
{
    // The same codes the shell gives for the usual causes; anything else is CreateProcess's own error.
    const DWORD ultimo = GetLastError();
    // A missing program is the likelier fault to report: its folder is often the working folder and is missing too.
    if (!QFileInfo::exists(programa)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!carpeta.isEmpty() && !QFileInfo(carpeta).isDir()) {
        return ERROR_DIRECTORY;
    }
    return static_cast<int>(ultimo);
}
