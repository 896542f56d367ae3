#include "base/base64.h"

#include <QFile>
#include <QSaveFile>

bool DecodificarBase64(QByteArrayView texto, QByteArray& bytes)
{
    if (texto.isEmpty()) {
        return false;
    }
    for (const char c : texto) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return false;
        }
    }
    qsizetype datos = texto.size();
    while (datos > 0 && texto[datos - 1] == '=') {
        --datos;
    }
    // One character of a four-character group carries only six bits: no byte can come from it.
    if (datos % 4 == 1) {
        return false;
    }
    // Read where it lies, without a copy (a const array: the decoder never writes into it).
    const QByteArray ascii = QByteArray::fromRawData(texto.data(), texto.size());
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

bool EscribirArchivoNuevo(const QByteArray& bytes, const QString& ruta)
{
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return false;
    }
    // A full disk may show only when the buffer is written out, so the outcome is read after closing.
    const bool escrito = archivo.write(bytes) == bytes.size() && archivo.flush();
    archivo.close();
    if (!escrito || archivo.error() != QFileDevice::NoError) {
        archivo.remove();
        return false;
    }
    return true;
}
