#pragma once

#include <QString>

// Where the agent's files and the program it hands CSV files to are, as the platform's conventions say.
struct CarpetasSistema
{
    QString configMaquina;  // the machine-wide config.ini an administrator edits
    QString configUsuario;  // the user's own config.ini, whose keys override the machine-wide ones
    QString datosUsuario;   // a folder the user may write: logs/ and the received PDF
    QString datosCsv;       // where received CSV files go unless CarpetaCSV says otherwise, with its closing separator
    QString programaQendra; // Qendra's program file unless ProgramaQendra says otherwise
};

CarpetasSistema CarpetasDelSistema();
