#include "base/archivo_anexo.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ArchivoAnexo::~ArchivoAnexo()
{
    Cerrar();
}

qint64 ArchivoAnexo::Abrir(const QString& ruta)
{
    Cerrar();
    // O_APPEND: every write lands at the end, wherever others have left it (emptied, written to). O_CLOEXEC: the
    // programs the agent starts do not inherit it. O_NONBLOCK: a pipe in the file's place cannot hold the agent up
    // (it is refused below).
    const int fd = ::open(QFile::encodeName(ruta).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        return -1;
    }
    struct stat datos = {};
    if (::fstat(fd, &datos) != 0 || !S_ISREG(datos.st_mode)) {
        ::close(fd);
        return -1;
    }
    m_manejador = fd;
    m_volumen = static_cast<quint64>(datos.st_dev);
    m_identidad = static_cast<quint64>(datos.st_ino);
    return datos.st_size;
}

void ArchivoAnexo::Cerrar()
{
    if (Abierto()) {
        ::close(static_cast<int>(m_manejador));
        m_manejador = kCerrado;
    }
}

bool ArchivoAnexo::Anexar(QByteArrayView bytes)
{
    if (!Abierto()) {
        return false;
    }
    const int fd = static_cast<int>(m_manejador);
    qsizetype escritos = 0;
    while (escritos < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + escritos, static_cast<size_t>(bytes.size() - escritos));
        if (n >= 0) {
            escritos += n;
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        // A disk that filled up halfway through: the part that went is taken back, so that the next line does not
        // run on from a fragment of this one.
        struct stat datos = {};
        if (escritos > 0 && ::fstat(fd, &datos) == 0 && datos.st_size >= escritos) {
            [[maybe_unused]] const int recortado = ::ftruncate(fd, datos.st_size - escritos);
        }
        return false;
    }
    return true;
}

qint64 ArchivoAnexo::TamanoSiSigue(const QString& ruta) const
{
    struct stat datos = {};
    if (!Abierto() || ::stat(QFile::encodeName(ruta).constData(), &datos) != 0 ||
        static_cast<quint64>(datos.st_dev) != m_volumen || static_cast<quint64>(datos.st_ino) != m_identidad) {
        return -1;
    }
    return datos.st_size;
}
