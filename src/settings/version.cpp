#include "settings/version.h"

#include "version_config.h"

#include <QStringList>

QString NormalizarVersion(const QString& numeros)
{
    static const QString kPorDefecto = QStringLiteral("1.0.0.0");
    const QStringList partes = numeros.split(u'.');
    if (partes.size() != 4) {
        return kPorDefecto;
    }
    QStringList limpias;
    for (const QString& parte : partes) {
        if (parte.isEmpty() || parte.size() > 5) {
            return kPorDefecto;
        }
        for (const QChar c : parte) {
            if (c < u'0' || c > u'9') {
                return kPorDefecto;
            }
        }
        const uint valor = parte.toUInt();
        if (valor > 0xFFFF) {
            return kPorDefecto;
        }
        limpias << QString::number(valor);
    }
    return limpias.join(u'.');
}

QString ObtenerVersion()
{
    return NormalizarVersion(QStringLiteral(TORNAVO_VERSION_NUMEROS));
}
