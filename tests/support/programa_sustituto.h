#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

namespace soporte {

// Stand-ins for outside programs: shell scripts that record how they were started in the file `ruta` + ".llamada":
// one "arg:" line per argument, "cwd:" and the working folder, and for each file of `carpetaVista` (if given) an
// "archivo:" line with its name and size, as they were when the program started. The record appears whole, by a
// rename, so a test that sees it can read it.
inline bool CrearProgramaSustituto(const QString& ruta, const QString& carpetaVista = QString())
{
    QString guion = QStringLiteral("#!/bin/sh\n"
                                   "registro=\"$0.llamada\"\n"
                                   "{\n"
                                   "  for a in \"$@\"; do printf 'arg:%s\\n' \"$a\"; done\n"
                                   "  printf 'cwd:%s\\n' \"$(pwd)\"\n");
    if (!carpetaVista.isEmpty()) {
        guion += QStringLiteral("  for f in '%1'/*; do [ -f \"$f\" ] && printf 'archivo:%s:%s\\n' "
                                "\"$(basename \"$f\")\" \"$(wc -c < \"$f\" | tr -d ' ')\"; done\n")
                     .arg(carpetaVista);
    }
    guion += QStringLiteral("} > \"$registro.tmp\" && mv \"$registro.tmp\" \"$registro\"\n");
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::Truncate) || archivo.write(guion.toUtf8()) < 0) {
        return false;
    }
    return archivo.setPermissions(archivo.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

// The lines recorded by a stand-in, or an empty list while it has not run.
inline QStringList LlamadaRegistrada(const QString& ruta)
{
    QFile archivo(ruta + QStringLiteral(".llamada"));
    if (!archivo.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(archivo.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace soporte
