#include "base64.h"

#include <QSaveFile>

bool DecodificarBase64(QString texto, QByteArray& bytes)
{
    if (texto.isEmpty()) {
        return false;
    }
    for (const QChar c : texto) {
        if (c.unicode() > 0x7F) {
            return false;
        }
    }
    const QByteArray ascii = texto.toLatin1();
    texto = QString();
    qsizetype datos = ascii.size();
    while (datos > 0 && ascii[datos - 1] == '=') {
        --datos;
    }
    // One character of a four-character group carries only six bits: no byte can come from it.
    if (datos % 4 == 1) {
        return false;
    }
    auto resultado = QByteArray::fromBase64Encoding(ascii, QByteArray::AbortOnBase64DecodingErrors);
    if (resultado.decodingStatus != QByteArray::Base64DecodingStatus::Ok) {
        return false;
    }
    bytes = std::move(resultado.decoded);
    return true;
}

bool GuardarBytes(const QByteArray& bytes, const QString& ruta)
{
    QSaveFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly)) {
        return false;
    }
    if (archivo.write(bytes) != bytes.size()) {
        archivo.cancelWriting();
        return false;
    }
    return archivo.commit();
}

bool GuardarBase64(QString texto, const QString& ruta)
{
    QByteArray bytes;
    return DecodificarBase64(std::move(texto), bytes) && GuardarBytes(bytes, ruta);
}
