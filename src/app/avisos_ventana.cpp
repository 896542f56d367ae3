#include "app/avisos_ventana.h"

#include "app/avisos.h"

#include <QGuiApplication>
#include <QMessageBox>

bool PlataformaSinPantalla()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen") ||
           QGuiApplication::platformName() == QLatin1String("minimal");
}

void InstalarAvisosDeVentana()
{
    if (PlataformaSinPantalla()) {
        InstalarMostradorAvisos({});
        return;
    }
    InstalarMostradorAvisos([](const QString& texto, IconoAviso icono, BotonesAviso botones) {
        QMessageBox caja(icono == IconoAviso::Error ? QMessageBox::Critical : QMessageBox::Question,
                         QStringLiteral("Plugin Tornavo"), texto);
        if (botones == BotonesAviso::SiNo) {
            caja.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            caja.setDefaultButton(QMessageBox::No);
            caja.setEscapeButton(QMessageBox::No);
            return caja.exec() == QMessageBox::Yes ? RespuestaAviso::Si : RespuestaAviso::No;
        }
        caja.setStandardButtons(QMessageBox::Ok);
        caja.exec();
        return RespuestaAviso::Aceptar;
    });
}
