#include "base/archivos.h"

#include "base/texto.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
