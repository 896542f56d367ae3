#include "base/proceso_externo.h"

#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <unistd.h>

void PrepararInicioOculto(QProcess&)
{
    // No windows to hide here: the program inherits no terminal and draws what it draws.
}

int CodigoErrorInicio(const QString& programa, const QString& carpeta, const QProcess& proceso)
{
    // QProcess reports the failure as text only; the usual causes (no such file, no permission, a missing working
    // folder) are asked again of the system to get its errno.
    if (!carpeta.isEmpty() && ::access(QFile::encodeName(carpeta).constData(), X_OK) != 0) {
        return errno;
    }
    if (::access(QFile::encodeName(programa).constData(), X_OK) != 0) {
        return errno;
    }
    // Otherwise match the system's message at the end of Qt's text ("execv: Exec format error").
    const QString texto = proceso.errorString();
    for (int codigo = 1; codigo < 256; ++codigo) {
        const QString mensaje = QString::fromLocal8Bit(std::strerror(codigo));
        if (texto.endsWith(QLatin1String(": ") + mensaje)) {
            return codigo;
        }
    }
    return -1;
}
