#pragma once

#include <QHostAddress>
#include <QProcess>

namespace soporte {

// Waits until the program `proceso` starts accepts connections on `puerto`; false when it ended first or did not
// listen within `msEspera`.
bool EsperarEscucha(QProcess& proceso, quint16 puerto, int msEspera,
                    const QHostAddress& direccion = QHostAddress(QHostAddress::LocalHost));

} // namespace soporte
