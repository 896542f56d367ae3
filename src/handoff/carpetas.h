#pragma once

#include <QString>

// Where the hand-off's files and program are on each platform, unless config.ini says otherwise.

// Where received CSV files go unless CarpetaCSV says otherwise, with its closing separator.
QString CarpetaDatosPorDefecto();

// Qendra's program file unless ProgramaQendra says otherwise.
QString ProgramaQendraPorDefecto();
