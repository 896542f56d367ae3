#include "app/avisos_ventana.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

bool PlataformaSinPantalla()
{
    return QGuiApplication::platformName() == QLatin1String("offscreen") ||
           QGuiApplication::platformName() == QLatin1String("minimal");
}

std::unique_ptr<QMessageBox> CrearCajaAviso(const QString& texto, IconoAviso icono, BotonesAviso botones)
{
    auto caja =
        std::make_unique<QMessageBox>(icono == IconoAviso::Error ? QMessageBox::Critical : QMessageBox::Question,
                                      QStringLiteral("Plugin Tornavo"), texto);
    if (botones == BotonesAviso::SiNo) {
        caja->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        caja->button(QMessageBox::Yes)->setText(QStringLiteral("&Sí"));
        caja->button(QMessageBox::No)->setText(QStringLiteral("&No"));
        caja->setDefaultButton(QMessageBox::No);
        caja->setEscapeButton(QMessageBox::No);
    } else {
        caja->setStandardButtons(QMessageBox::Ok);
        caja->button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
    }
    return caja;
}

void InstalarAvisosDeVentana()
{
    if (PlataformaSinPantalla()) {
        InstalarMostradorAvisos({});
        return;
    }
    InstalarMostradorAvisos([](const QString& texto, IconoAviso icono, BotonesAviso botones) {
        const auto caja = CrearCajaAviso(texto, icono, botones);
        const int respuesta = caja->exec();
        if (botones == BotonesAviso::SiNo) {
            return respuesta == QMessageBox::Yes ? RespuestaAviso::Si : RespuestaAviso::No;
        }
        return RespuestaAviso::Aceptar;
    });
}
