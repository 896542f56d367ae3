#pragma once

#include <QString>

// Where an installed agent keeps its files, as the platform's conventions say.
struct CarpetasSistema
{
    QString configMaquina; // the machine-wide config.ini an administrator edits
    QString configUsuario; // the user's own config.ini, whose keys override the machine-wide ones
    QString datosUsuario;  // a folder the user may write: logs/ and the received PDF
};

CarpetasSistema CarpetasDelSistema();
