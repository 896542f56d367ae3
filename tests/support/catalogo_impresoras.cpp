#include "support/catalogo_impresoras.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace soporte {

void CompararCatalogo(const ClienteAgente& agente, QStringList esperadas)
{
    const RespuestaHttp respuesta = agente.Get(QStringLiteral("/impresoras"));
    QCOMPARE(respuesta.estado, 200);
    QStringList nombres = QJsonDocument::fromJson(respuesta.cuerpo)
                              .object()
                              .value(QStringLiteral("impresoras"))
                              .toVariant()
                              .toStringList();
    QCOMPARE(nombres.value(0), QStringLiteral("PREDETERMINADA"));
    nombres.removeFirst();
    nombres.sort();
    esperadas.sort();
    QCOMPARE(nombres, esperadas);
}

} // namespace soporte
