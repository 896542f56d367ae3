#include "simulador.h"

#include <QFile>
#include <QSaveFile>

#include <cmath>
#include <unistd.h>

namespace {

bool EsPedido(const QString& nombre)
{
    return nombre == QLatin1String("SYSTEL1") || nombre == QLatin1String("SYSTEL2") ||
           nombre == QLatin1String("SYSTEL3") || nombre == QLatin1String("KRETZ");
}

// A whole number as exactly `ancho` characters, zero-padded after the sign.
QByteArray Entero(qint64 valor, int ancho)
{
    const QByteArray digitos = QByteArray::number(valor < 0 ? -valor : valor);
    const int relleno = ancho - int(digitos.size()) - (valor < 0 ? 1 : 0);
    QByteArray texto = valor < 0 ? QByteArray("-") : QByteArray();
    texto += QByteArray(std::max(0, relleno), '0') + digitos;
    return texto.right(ancho);
}

// Kilograms in `ancho` characters, as many decimals (up to 3) as fit, zero-padded after the sign.
QByteArray Kilos(double peso, int ancho)
{
    for (int decimales = 3; decimales >= 0; --decimales) {
        const QByteArray numero = QByteArray::number(std::fabs(peso), 'f', decimales);
        const int largo = int(numero.size()) + (peso < 0 ? 1 : 0);
        if (largo <= ancho) {
            return (peso < 0 ? QByteArray("-") : QByteArray()) + QByteArray(ancho - largo, '0') + numero;
        }
    }
    return QByteArray(ancho, '9');
}

QString Hex(const QByteArray& datos)
{
    return QString::fromLatin1(datos.toHex(' ')).toUpper();
}

const char* NombreFalla(Simulador::Falla falla)
{
    switch (falla) {
    case Simulador::Falla::Silencio:
        return "silencio";
    case Simulador::Falla::Parcial:
        return "parcial";
    case Simulador::Falla::Basura:
        return "basura";
    case Simulador::Falla::Colgar:
        return "colgar";
    default:
        return "ninguna";
    }
}

} // namespace

Simulador::Simulador(const Opciones& opciones, QObject* parent)
    : QObject(parent)
    , m_opciones(opciones)
    , m_nombre(opciones.protocolo.toUpper())
{
    connect(&m_emisor, &QTimer::timeout, this, &Simulador::Responder);
    connect(&m_vigilante, &QTimer::timeout, this, &Simulador::VigilarLinea);
}

Simulador::~Simulador()
{
    if (!m_opciones.enlace.isEmpty()) {
        QFile::remove(m_opciones.enlace);
    }
}

bool Simulador::Iniciar(QString& error)
{
    if (!m_pty.Abrir(error)) {
        return false;
    }
    if (!m_opciones.enlace.isEmpty()) {
        QFile::remove(m_opciones.enlace);
        if (!QFile::link(m_pty.Dispositivo(), m_opciones.enlace)) {
            error = QStringLiteral("no se pudo crear el enlace %1").arg(m_opciones.enlace);
            return false;
        }
    }
    m_reloj.start();
    Asentar(m_opciones.asentarMs);
    m_lector = std::make_unique<QSocketNotifier>(m_pty.Descriptor(), QSocketNotifier::Read);
    connect(m_lector.get(), &QSocketNotifier::activated, this, &Simulador::AlLeer);
    m_linea = m_pty.AjustesLinea();
    m_vigilante.start(10);
    if (!EsPedido(m_nombre)) {
        m_emisor.start(std::max(1, m_opciones.intervaloMs));
    }
    GuardarInforme();
    return true;
}

QString Simulador::Ruta() const
{
    return m_opciones.enlace.isEmpty() ? m_pty.Dispositivo() : m_opciones.enlace;
}

QByteArray Simulador::Respuesta(const QString& protocolo, double peso)
{
    const QString nombre = protocolo.toUpper();
    const qint64 milesimas = std::llround(peso * 1000.0);
    if (nombre == QLatin1String("SYSTEL1") || nombre == QLatin1String("SYSTEL2")) {
        return Entero(milesimas, 8);
    }
    if (nombre == QLatin1String("SYSTEL3")) {
        return Entero(milesimas, 7);
    }
    if (nombre == QLatin1String("KRETZ")) {
        return QByteArray("\x02") + Kilos(peso, 6) + QByteArray("\r");
    }
    if (nombre.endsWith(QLatin1String("100KG"))) {
        return Entero(std::llround(peso * 100.0), 8);
    }
    return Kilos(peso, 8);
}

void Simulador::AlLeer()
{
    const QByteArray llegado = m_pty.Leer();
    if (llegado.isEmpty()) {
        return;
    }
    m_recibido += llegado;
    m_lineaAlRecibir = m_pty.AjustesLinea();
    const char disparador = m_nombre == QLatin1String("KRETZ") ? 'P' : '\x07';
    if (EsPedido(m_nombre)) {
        for (char c : llegado) {
            if (c == disparador) {
                QTimer::singleShot(m_opciones.demoraMs, Qt::PreciseTimer, this, &Simulador::Responder);
            }
        }
    }
    GuardarInforme();
}

void Simulador::Responder()
{
    if (m_colgado) {
        return;
    }
    const QByteArray respuesta = Respuesta(m_opciones.protocolo, PesoActual());
    switch (m_opciones.falla) {
    case Falla::Silencio:
        return;
    case Falla::Parcial:
        Enviar(respuesta.left(respuesta.size() / 2));
        return;
    case Falla::Basura: {
        const QByteArray basura("\xFF?GS#*!~");
        Enviar(basura.left(respuesta.size()));
        return;
    }
    case Falla::Colgar:
        Enviar(respuesta.left(respuesta.size() / 2));
        // Let the first half reach the other side before the line drops.
        QTimer::singleShot(50, this, &Simulador::Colgar);
        return;
    case Falla::Ninguna:
        Enviar(respuesta);
        return;
    }
}

void Simulador::Enviar(const QByteArray& respuesta)
{
    if (m_pty.Escribir(respuesta)) {
        ++m_respuestas;
    }
    GuardarInforme();
}

void Simulador::Colgar()
{
    if (m_colgado) {
        return;
    }
    m_colgado = true;
    m_emisor.stop();
    m_vigilante.stop();
    m_lector.reset();
    m_pty.Cerrar();
    if (!m_opciones.enlace.isEmpty()) {
        QFile::remove(m_opciones.enlace);
    }
    GuardarInforme();
    emit terminado();
}

void Simulador::Asentar(int ms)
{
    m_duracionAsentar = std::max(0, ms);
    m_finAsentar = m_reloj.elapsed() + m_duracionAsentar;
}

double Simulador::PesoActual()
{
    const qint64 falta = m_finAsentar - m_reloj.elapsed();
    if (falta <= 0 || m_duracionAsentar <= 0) {
        return m_opciones.peso;
    }
    // A swing that shrinks as the time runs out, to one side and then the other, never less than two hundredths
    // (so that even the scales that send hundredths show it).
    const double amplitud = std::max(0.2, 0.05 * std::fabs(m_opciones.peso)) * double(falta) / m_duracionAsentar;
    m_signo = -m_signo;
    return m_opciones.peso + m_signo * std::max(0.02, amplitud);
}

void Simulador::VigilarLinea()
{
    const QString linea = m_pty.AjustesLinea();
    if (linea != m_linea) {
        m_linea = linea;
        GuardarInforme();
    }
}

bool Simulador::LeerFalla(const QString& texto, Falla& falla)
{
    const QString t = texto.trimmed().toLower();
    if (t == QLatin1String("ninguna")) {
        falla = Falla::Ninguna;
    } else if (t == QLatin1String("silencio")) {
        falla = Falla::Silencio;
    } else if (t == QLatin1String("parcial")) {
        falla = Falla::Parcial;
    } else if (t == QLatin1String("basura")) {
        falla = Falla::Basura;
    } else if (t == QLatin1String("colgar")) {
        falla = Falla::Colgar;
    } else {
        return false;
    }
    return true;
}

QString Simulador::Informe() const
{
    QString texto;
    texto += QStringLiteral("dispositivo: %1\n").arg(Ruta());
    texto += QStringLiteral("protocolo: %1\n").arg(m_opciones.protocolo);
    texto += QStringLiteral("peso: %1\n").arg(m_opciones.peso, 0, 'f', 3);
    texto += QStringLiteral("falla: %1\n").arg(QLatin1String(NombreFalla(m_opciones.falla)));
    texto += QStringLiteral("linea: %1\n").arg(m_linea);
    texto += QStringLiteral("linea_al_recibir: %1\n").arg(m_lineaAlRecibir);
    texto += QStringLiteral("recibidos: %1\n").arg(m_recibido.size());
    texto += QStringLiteral("bytes: %1\n").arg(Hex(m_recibido));
    texto += QStringLiteral("respuestas: %1\n").arg(m_respuestas);
    texto += QStringLiteral("estado: %1\n").arg(m_colgado ? QStringLiteral("colgado") : QStringLiteral("activo"));
    return texto;
}

void Simulador::GuardarInforme() const
{
    if (m_opciones.informe.isEmpty()) {
        return;
    }
    // Written whole and renamed, so a reader never sees half a report.
    QSaveFile archivo(m_opciones.informe);
    if (archivo.open(QIODevice::WriteOnly)) {
        archivo.write(Informe().toUtf8());
        archivo.commit();
    }
}

QString Simulador::Ordenar(const QString& orden)
{
    const QString texto = orden.trimmed();
    const QString verbo = texto.section(u' ', 0, 0).toLower();
    const QString valor = texto.section(u' ', 1).trimmed();
    bool ok = true;
    if (verbo == QLatin1String("peso")) {
        const double peso = valor.section(u' ', 0, 0).toDouble(&ok);
        int asentar = m_opciones.asentarMs;
        const QString tiempo = valor.section(u' ', 1).trimmed();
        if (ok && !tiempo.isEmpty()) {
            asentar = tiempo.toInt(&ok);
            ok = ok && asentar >= 0;
        }
        if (ok) {
            m_opciones.peso = peso;
            Asentar(asentar);
        }
    } else if (verbo == QLatin1String("demora")) {
        const int demora = valor.toInt(&ok);
        ok = ok && demora >= 0;
        if (ok) {
            m_opciones.demoraMs = demora;
        }
    } else if (verbo == QLatin1String("falla")) {
        ok = LeerFalla(valor, m_opciones.falla);
    } else if (verbo == QLatin1String("informe")) {
        return Informe();
    } else if (verbo == QLatin1String("colgar")) {
        Colgar();
    } else if (verbo == QLatin1String("salir")) {
        emit terminado();
    } else if (!verbo.isEmpty()) {
        ok = false;
    }
    if (!ok) {
        return QStringLiteral("error: orden no válida: %1\n").arg(texto);
    }
    GuardarInforme();
    return QStringLiteral("ok\n");
}
