#include "base/base64.h"

#include "base/texto.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

bool GuardarBytes(const QByteArray& bytes, const QString& ruta, QString* motivo)
{
    const QString nativa = EscaparParaLog(QDir::toNativeSeparators(ruta));
    // QSaveFile follows a link and replaces what it points to, which may lie outside the folder.
    if (QFileInfo(ruta).isSymLink()) {
        if (motivo != nullptr) {
            *motivo = QStringLiteral("No se escribe a través de un enlace: ") + nativa;
        }
        return false;
    }
    QSaveFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly)) {
        if (motivo != nullptr) {
            *motivo = QStringLiteral("No se pudo crear ") + nativa + QStringLiteral(": ") + archivo.errorString();
        }
        return false;
    }
    // Small writes stay in the device's buffer; a failure to flush them (a full disk) is not seen by commit, which
    // would then put the short file in place.
    if (archivo.write(bytes) != bytes.size() || !archivo.flush()) {
        if (motivo != nullptr) {
            *motivo = QStringLiteral("No se pudo escribir ") + nativa + QStringLiteral(": ") + archivo.errorString();
        }
        archivo.cancelWriting();
        return false;
    }
    if (!archivo.commit()) {
        if (motivo != nullptr) {
            *motivo = QStringLiteral("No se pudo escribir ") + nativa + QStringLiteral(": ") + archivo.errorString();
        }
        return false;
    }
    return true;
}

bool EscribirArchivoNuevo(const QByteArray& bytes, const QString& ruta, QString* motivo)
{
    const QString nativa = EscaparParaLog(QDir::toNativeSeparators(ruta));
    QFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (motivo != nullptr) {
            *motivo = QStringLiteral("No se pudo crear ") + nativa + QStringLiteral(": ") + archivo.errorString();
        }
        return false;
    }
    // A full disk may show only when the buffer is written out, so the outcome is read after closing.
    const bool escrito = archivo.write(bytes) == bytes.size() && archivo.flush();
    const QString error = archivo.errorString();
    archivo.close();
    if (!escrito || archivo.error() != QFileDevice::NoError) {
        if (motivo != nullptr) {
            *motivo = QStringLiteral("No se pudo escribir ") + nativa + QStringLiteral(": ") +
                      (escrito ? archivo.errorString() : error);
        }
        archivo.remove();
        return false;
    }
    return true;
}
