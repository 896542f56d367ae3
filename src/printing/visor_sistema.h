#pragma once

#include "printing/visor.h"

#include <QString>

#include <memory>

class Lanzador;

// The platform's way of printing a PDF: SumatraPDF beside the executable on Windows, CUPS itself elsewhere.
// `lanzador` must outlive the viewer.
std::unique_ptr<VisorPDF> CrearVisorDelSistema(const QString& carpetaPrograma, Lanzador& lanzador);
