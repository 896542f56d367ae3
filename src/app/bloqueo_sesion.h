#pragma once

#include <QString>

#include <memory>

class QWidget;

// While the close question holds the end of the user's session, Windows lists the agent among the programs that
// keep the session from ending; the reason given here is shown beside its name. Elsewhere nothing is shown.
class BloqueoSesion
{
public:
    virtual ~BloqueoSesion() = default;
    virtual void Bloquear(const QString& motivo) = 0;
    virtual void Liberar() = 0;
};

// The system's, for the window whose question holds the session.
std::unique_ptr<BloqueoSesion> CrearBloqueoSesionDelSistema(QWidget& ventana);
