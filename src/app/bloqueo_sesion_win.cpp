#include "app/bloqueo_sesion.h"

#include <QWidget>

#include <windows.h>

namespace {

class BloqueoWindows final : public BloqueoSesion
{
public:
    explicit BloqueoWindows(QWidget& ventana)
        : m_ventana(ventana)
    {
    }

    // A refusal only leaves Windows' generic text beside the agent's name: the question is asked all the same.
    void Bloquear(const QString& motivo) override
    {
        ShutdownBlockReasonCreate(Ventana(), reinterpret_cast<LPCWSTR>(motivo.utf16()));
    }
    void Liberar() override { ShutdownBlockReasonDestroy(Ventana()); }

private:
    HWND Ventana() const { return reinterpret_cast<HWND>(m_ventana.winId()); }

    QWidget& m_ventana;
};

} // namespace

std::unique_ptr<BloqueoSesion> CrearBloqueoSesionDelSistema(QWidget& ventana)
{
    return std::make_unique<BloqueoWindows>(ventana);
}
