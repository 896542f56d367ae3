#include "app/bloqueo_sesion.h"

namespace {

// Linux desktops show no reason for a program that holds the session's end.
class BloqueoSinMotivo final : public BloqueoSesion
{
public:
    void Bloquear(const QString&) override {}
    void Liberar() override {}
};

} // namespace

std::unique_ptr<BloqueoSesion> CrearBloqueoSesionDelSistema(QWidget&)
{
    return std::make_unique<BloqueoSinMotivo>();
}
