#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// A file held open for appending between writes, as the day's log is. Each Anexar is handed to the system at once,
// nothing kept in a buffer of the process: what it wrote survives the process being killed next. Other programs may
// read the file meanwhile, write to it, and remove or rename it; TamanoSiSigue tells when that has happened.
class ArchivoAnexo final
{
public:
    ArchivoAnexo() = default;
    ~ArchivoAnexo();
    ArchivoAnexo(const ArchivoAnexo&) = delete;
    ArchivoAnexo& operator=(const ArchivoAnexo&) = delete;

    // Opens `ruta` for appending, creating the file (not its folder) when it is missing; the file held before is
    // closed. Gives the file's size, or -1 when it cannot be opened.
    qint64 Abrir(const QString& ruta);
    bool Abierto() const { return m_manejador != kCerrado; }
    void Cerrar();

    // Appends all of `bytes` at the end of the file, in one write unless the system takes less. False on any
    // failure, and then none of `bytes` stays in the file.
    bool Anexar(QByteArrayView bytes);

    // The size of the file `ruta` names, when that is still the file held open; -1 when the name is gone or names
    // another file (removed, renamed, replaced), or nothing is open.
    qint64 TamanoSiSigue(const QString& ruta) const;

private:
    static constexpr qintptr kCerrado = -1;

    qintptr m_manejador = kCerrado; // the system's descriptor or handle
    // What tells one file from another on its volume, read when it was opened.
    quint64 m_volumen = 0;
    quint64 m_identidad = 0;
};
