#include "comun.h"

#include "base/registro.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

struct Entorno
{
    QTemporaryDir raiz{QDir::tempPath() + QStringLiteral("/tornavo-fuzz-XXXXXX")};
    Registro* registro = nullptr;
    QString archivoLog;
    QStringList lineas;
};

Entorno* g_entorno = nullptr;

void Limpiar()
{
    // The log goes first: it must not outlive the folder it writes to.
    if (g_entorno != nullptr) {
        InstalarRegistro(nullptr);
        delete g_entorno->registro;
        delete g_entorno;
        g_entorno = nullptr;
    }
}

} // namespace

void Preparar()
{
    if (g_entorno != nullptr) {
        return;
    }
    static int argc = 1;
    static char nombre[] = "tornavo-fuzz";
    static char* argv[] = {nombre, nullptr};
    new QCoreApplication(argc, argv); // kept for the life of the process

    g_entorno = new Entorno;
    if (!g_entorno->raiz.isValid()) {
        std::fprintf(stderr, "tornavo-fuzz: no temporary folder\n");
        std::abort();
    }
    const QString carpeta = g_entorno->raiz.path();

    // A fixed clock keeps one file name for the whole run; TomarLineasDelLog empties that file.
    const qint64 ahora = QDateTime::currentMSecsSinceEpoch();
    g_entorno->registro = new Registro(carpeta, [ahora] { return ahora; });
    QDir().mkpath(QDir(carpeta).filePath(QStringLiteral("logs")));
    g_entorno->archivoLog = g_entorno->registro->ArchivoDelDia(QDateTime::fromMSecsSinceEpoch(ahora).date());
    QObject::connect(g_entorno->registro, &Registro::lineaEscrita,
                     [](const QString& linea) { g_entorno->lineas.append(linea); });
    InstalarRegistro(g_entorno->registro);
    std::atexit(Limpiar);
}

QString CarpetaRaiz()
{
    return g_entorno->raiz.path();
}

QStringList TomarLineasDelLog()
{
    QStringList lineas;
    lineas.swap(g_entorno->lineas);
    if (!lineas.isEmpty()) {
        QFile::resize(g_entorno->archivoLog, 0);
    }
    return lineas;
}

QString Mostrar(const QByteArray& bytes, int maximo)
{
    QString salida;
    for (qsizetype i = 0; i < bytes.size() && i < maximo; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            salida += QChar(b);
        } else {
            salida += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        }
    }
    if (bytes.size() > maximo) {
        salida += QStringLiteral("... (%1 bytes)").arg(bytes.size());
    }
    return salida;
}

QString Mostrar(const QString& texto, int maximo)
{
    QString salida;
    for (qsizetype i = 0; i < texto.size() && i < maximo; ++i) {
        const QChar c = texto[i];
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'\\') {
            salida += c;
        } else {
            salida += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    if (texto.size() > maximo) {
        salida += QStringLiteral("... (%1 characters)").arg(texto.size());
    }
    return salida;
}

void Fallar(const char* archivo, int linea, const char* condicion, const QString& detalle)
{
    std::fprintf(stderr, "\n==tornavo-fuzz== %s:%d: check failed: %s\n==tornavo-fuzz== %s\n", archivo, linea, condicion,
                 detalle.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
