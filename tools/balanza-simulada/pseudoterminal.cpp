#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int Baudios(speed_t velocidad)
{
    switch (velocidad) {
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

} // namespace

Pseudoterminal::~Pseudoterminal()
{
    Cerrar();
}

bool Pseudoterminal::Abrir(QString& error)
{
    m_controlador = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_controlador < 0 || grantpt(m_controlador) != 0 || unlockpt(m_controlador) != 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        Cerrar();
        return false;
    }
    const char* nombre = ptsname(m_controlador);
    if (!nombre) {
        error = QString::fromLocal8Bit(strerror(errno));
        Cerrar();
        return false;
    }
    m_dispositivo = QString::fromLocal8Bit(nombre);
    m_esclavo = ::open(nombre, O_RDWR | O_NOCTTY);
    if (m_esclavo < 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        Cerrar();
        return false;
    }
    // Raw from the start: no echo of the replies back to us, no line editing, until the agent sets its own.
    termios t{};
    if (tcgetattr(m_esclavo, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(m_esclavo, TCSANOW, &t);
    }
    return true;
}

void Pseudoterminal::Cerrar()
{
    if (m_esclavo >= 0) {
        ::close(m_esclavo);
        m_esclavo = -1;
    }
    if (m_controlador >= 0) {
        ::close(m_controlador);
        m_controlador = -1;
    }
}

QByteArray Pseudoterminal::Leer()
{
    if (m_controlador < 0) {
        return QByteArray();
    }
    char buffer[512];
    const ssize_t n = ::read(m_controlador, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
}

bool Pseudoterminal::Escribir(const QByteArray& datos)
{
    qsizetype escrito = 0;
    while (m_controlador >= 0 && escrito < datos.size()) {
        const ssize_t n = ::write(m_controlador, datos.constData() + escrito, size_t(datos.size() - escrito));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        escrito += n;
    }
    return escrito == datos.size();
}

QString Pseudoterminal::AjustesLinea() const
{
    termios t{};
    if (m_esclavo < 0 || tcgetattr(m_esclavo, &t) != 0) {
        return QString();
    }
    char paridad = 'n';
    if (t.c_cflag & PARENB) {
        paridad = (t.c_cflag & PARODD) ? 'o' : 'e';
#ifdef CMSPAR
        if (t.c_cflag & CMSPAR) {
            paridad = (t.c_cflag & PARODD) ? 'm' : 's';
        }
#endif
    }
    int datos = 8;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        datos = 5;
        break;
    case CS6:
        datos = 6;
        break;
    case CS7:
        datos = 7;
        break;
    default:
        datos = 8;
        break;
    }
    const int parada = (t.c_cflag & CSTOPB) ? 2 : 1;
    return QStringLiteral("%1,%2,%3,%4").arg(Baudios(cfgetospeed(&t))).arg(QLatin1Char(paridad)).arg(datos).arg(parada);
}
