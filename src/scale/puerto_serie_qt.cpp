#include "scale/puerto_serie_qt.h"

#include "scale/dispositivo_serie.h"
#include "settings/configuracion.h"

namespace {

// Counts a call of our own while it runs, so that errors raised inside it are not reported a second time.
class EnLlamada
{
public:
    explicit EnLlamada(int& contador)
        : m_contador(contador)
    {
        ++m_contador;
    }
    ~EnLlamada() { --m_contador; }
    EnLlamada(const EnLlamada&) = delete;
    EnLlamada& operator=(const EnLlamada&) = delete;

private:
    int& m_contador;
};

QSerialPort::Parity ParidadQt(char paridad)
{
    switch (paridad) {
    case 'e':
        return QSerialPort::EvenParity;
    case 'o':
        return QSerialPort::OddParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ParadaQt(int bitsParada)
{
    switch (bitsParada) {
    case 2:
        return QSerialPort::TwoStop;
    case 3:
        return QSerialPort::OneAndHalfStop;
    default:
        return QSerialPort::OneStop;
    }
}

} // namespace

PuertoSerieQt::PuertoSerieQt(const QString& dispositivo, QObject* parent)
    : PuertoSerie(parent)
    , m_dispositivo(dispositivo)
{
    connect(&m_puerto, &QSerialPort::readyRead, this, &PuertoSerie::datosRecibidos);
    connect(&m_puerto, &QSerialPort::errorOccurred, this, &PuertoSerieQt::AlFallar);
}

bool PuertoSerieQt::Abrir(qint16 numero, const AjustesLinea& ajustes, QString& error)
{
    EnLlamada llamada(m_llamadas);
    if (m_puerto.isOpen()) {
        m_puerto.close();
    }
    const QString dispositivo = DispositivoDelPuerto(numero, m_dispositivo);
    if (dispositivo.isEmpty()) {
        error = QStringLiteral("el puerto %1 no existe").arg(numero);
        return false;
    }
    m_puerto.setPortName(dispositivo);
    const bool ajustado = m_puerto.setBaudRate(ajustes.baudios) && m_puerto.setParity(ParidadQt(ajustes.paridad)) &&
                          m_puerto.setDataBits(static_cast<QSerialPort::DataBits>(ajustes.bitsDatos)) &&
                          m_puerto.setStopBits(ParadaQt(ajustes.bitsParada)) &&
                          m_puerto.setFlowControl(QSerialPort::NoFlowControl);
    if (!ajustado) {
        error = m_puerto.errorString();
        return false;
    }
    ++m_apertura;
    m_fallado = false;
    m_puerto.clearError();
    if (!m_puerto.open(QIODevice::ReadWrite)) {
        error = m_puerto.errorString() + QStringLiteral(" (") + dispositivo + u')';
        m_puerto.clearError();
        return false;
    }
    return true;
}

bool PuertoSerieQt::Cerrar(QString& error)
{
    EnLlamada llamada(m_llamadas);
    if (!m_puerto.isOpen()) {
        return true;
    }
    m_puerto.clearError();
    m_puerto.close();
    const QSerialPort::SerialPortError codigo = m_puerto.error();
    if (codigo != QSerialPort::NoError) {
        error = m_puerto.errorString();
        m_puerto.clearError();
        return false;
    }
    return true;
}

bool PuertoSerieQt::EstaAbierto() const
{
    return m_puerto.isOpen();
}

bool PuertoSerieQt::Escribir(const QByteArray& datos, QString& error)
{
    EnLlamada llamada(m_llamadas);
    if (!m_puerto.isOpen()) {
        error = QStringLiteral("el puerto no está abierto");
        return false;
    }
    if (m_puerto.write(datos) != datos.size()) {
        error = m_puerto.errorString();
        return false;
    }
    return true;
}

QByteArray PuertoSerieQt::Tomar(qint64 maximo)
{
    if (!m_puerto.isOpen() || maximo <= 0) {
        return QByteArray();
    }
    return m_puerto.read(maximo);
}

void PuertoSerieQt::Descartar()
{
    if (!m_puerto.isOpen()) {
        return;
    }
    m_puerto.clear(QSerialPort::Input);
    m_puerto.readAll();
}

void PuertoSerieQt::AlFallar(QSerialPort::SerialPortError codigo)
{
    if (codigo == QSerialPort::NoError || codigo == QSerialPort::TimeoutError || m_llamadas > 0 || !m_puerto.isOpen() ||
        m_fallado) {
        return;
    }
    m_fallado = true;
    const QString descripcion = m_puerto.errorString();
    const quint64 apertura = m_apertura;
    // QSerialPort is inside its own notifier here; the listener may close the port, so it hears of it later.
    QMetaObject::invokeMethod(
        this,
        [this, descripcion, apertura] {
            if (apertura == m_apertura && m_puerto.isOpen()) {
                emit errorDispositivo(descripcion);
            }
        },
        Qt::QueuedConnection);
}

std::unique_ptr<PuertoSerie> CrearPuertoSerieDelSistema(const Configuracion& cfg)
{
    return std::make_unique<PuertoSerieQt>(cfg.DispositivoBalanza);
}
