#pragma once

#include <QString>

#include <functional>

// The one seam through which the agent shows a modal message box. The application installs one that shows real
// boxes; tests install one that answers as they say. With none installed (or on a screen nobody can see) the text
// goes to standard error and the default button is taken: OK, or No for a yes/no question.
enum class IconoAviso
{
    Error,
    Pregunta
};
enum class BotonesAviso
{
    Aceptar,
    SiNo
};
enum class RespuestaAviso
{
    Aceptar,
    Si,
    No
};

using MostradorAvisos = std::function<RespuestaAviso(const QString& texto, IconoAviso, BotonesAviso)>;

void InstalarMostradorAvisos(MostradorAvisos mostrador);
RespuestaAviso MostrarAviso(const QString& texto, IconoAviso icono, BotonesAviso botones);
RespuestaAviso AvisoSinPantalla(const QString& texto, BotonesAviso botones);
