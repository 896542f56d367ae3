#include "base/archivo_anexo.h"

#include <QDir>

#include <qt_windows.h>

#include <algorithm>
#include <string>

namespace {

HANDLE Manejador(qintptr valor)
{
    return reinterpret_cast<HANDLE>(valor);
}

std::wstring Nativa(const QString& ruta)
{
    return QDir::toNativeSeparators(ruta).toStdWString();
}

} // namespace

ArchivoAnexo::~ArchivoAnexo()
{
    Cerrar();
}

qint64 ArchivoAnexo::Abrir(const QString& ruta)
{
    Cerrar();
    // Appending only: each write lands at the end, wherever others have left it. Shared for reading, writing and
    // deleting, as a file opened and closed for each line would be: a text editor can read it and support can remove
    // it while the agent runs. Not inherited by the programs the agent starts.
    const HANDLE archivo = CreateFileW(Nativa(ruta).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (archivo == INVALID_HANDLE_VALUE) {
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION datos{};
    if (!GetFileInformationByHandle(archivo, &datos) || (datos.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(archivo);
        return -1;
    }
    m_manejador = reinterpret_cast<qintptr>(archivo);
    m_volumen = datos.dwVolumeSerialNumber;
    m_identidad = quint64(datos.nFileIndexHigh) << 32 | datos.nFileIndexLow;
    return qint64(quint64(datos.nFileSizeHigh) << 32 | datos.nFileSizeLow);
}

void ArchivoAnexo::Cerrar()
{
    if (Abierto()) {
        CloseHandle(Manejador(m_manejador));
        m_manejador = kCerrado;
    }
}

bool ArchivoAnexo::Anexar(QByteArrayView bytes)
{
    if (!Abierto()) {
        return false;
    }
    // A full disk fails a write here as a whole, before any of it lands: nothing to take back.
    const char* p = bytes.data();
    qsizetype resto = bytes.size();
    while (resto > 0) {
        DWORD escritos = 0;
        const DWORD pedidos = static_cast<DWORD>(std::min<qsizetype>(resto, 1 << 30));
        if (!WriteFile(Manejador(m_manejador), p, pedidos, &escritos, nullptr) || escritos == 0) {
            return false;
        }
        p += escritos;
        resto -= escritos;
    }
    return true;
}

qint64 ArchivoAnexo::TamanoSiSigue(const QString& ruta) const
{
    if (!Abierto()) {
        return -1;
    }
    // Removed while held open, a file may keep its name until the last handle goes (as on older Windows and Wine):
    // its own handle says so.
    FILE_STANDARD_INFO propio{};
    if (!GetFileInformationByHandleEx(Manejador(m_manejador), FileStandardInfo, &propio, sizeof propio) ||
        propio.DeletePending) {
        return -1;
    }
    // No access asked beyond the attributes: it opens beside any reader or writer. A file removed while someone
    // still holds it (ours included) cannot be opened by name at all.
    const HANDLE otro =
        CreateFileW(Nativa(ruta).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (otro == INVALID_HANDLE_VALUE) {
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION datos{};
    const bool leido = GetFileInformationByHandle(otro, &datos);
    CloseHandle(otro);
    if (!leido || datos.dwVolumeSerialNumber != m_volumen ||
        (quint64(datos.nFileIndexHigh) << 32 | datos.nFileIndexLow) != m_identidad) {
        return -1;
    }
    return qint64(quint64(datos.nFileSizeHigh) << 32 | datos.nFileSizeLow);
}
