// balanza-simulada: a weighing scale on a pseudo-terminal. Prints the device path to give the agent as
// DispositivoBalanza on its first line, then answers like the chosen scale until it is stopped.
#include "simulador.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

char g_enlace[4096] = {};

void AlTerminarPorSenal(int)
{
    // Only async-signal-safe calls here: leave no dangling link behind.
    if (g_enlace[0] != '\0') {
        unlink(g_enlace);
    }
    _exit(0);
}

void Escribir(const QString& texto)
{
    const QByteArray bytes = texto.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("balanza-simulada"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Balanza simulada en un pseudoterminal. La primera línea que escribe es el dispositivo para "
                       "DispositivoBalanza. Órdenes por la entrada estándar, una por línea: peso KG [MS], demora MS, "
                       "falla TIPO, informe, colgar, salir."));
    parser.addHelpOption();
    const QCommandLineOption protocolo(
        QStringList{"p", "protocolo"},
        QStringLiteral("SYSTEL1, SYSTEL2, SYSTEL3 o KRETZ; cualquier otro nombre envía solo (los terminados en "
                       "100KG en centésimas)."),
        QStringLiteral("nombre"), QStringLiteral("SYSTEL1"));
    const QCommandLineOption peso(QStringList{"w", "peso"}, QStringLiteral("Peso en kilos."), QStringLiteral("kg"),
                                  QStringLiteral("1.234"));
    const QCommandLineOption demora(QStringList{"d", "demora"}, QStringLiteral("Milisegundos antes de cada respuesta."),
                                    QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption intervalo(QStringLiteral("intervalo"),
                                       QStringLiteral("Milisegundos entre envíos del modo que envía solo."),
                                       QStringLiteral("ms"), QStringLiteral("200"));
    const QCommandLineOption falla(QStringList{"f", "falla"},
                                   QStringLiteral("ninguna, silencio, parcial (media respuesta), basura, o colgar "
                                                  "(media respuesta y corta la línea)."),
                                   QStringLiteral("tipo"), QStringLiteral("ninguna"));
    const QCommandLineOption enlace(QStringList{"e", "enlace"},
                                    QStringLiteral("Crea este enlace simbólico al dispositivo y lo usa como ruta."),
                                    QStringLiteral("ruta"));
    const QCommandLineOption informe(QStringList{"i", "informe"},
                                     QStringLiteral("Mantiene en este archivo lo recibido y los ajustes de línea."),
                                     QStringLiteral("archivo"));
    const QCommandLineOption asentar(QStringLiteral("asentar"),
                                     QStringLiteral("Milisegundos que cada peso (el inicial incluido) pasa por valores "
                                                    "cambiantes antes de quedar fijo."),
                                     QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({protocolo, peso, demora, intervalo, asentar, falla, enlace, informe});
    parser.process(app);

    Simulador::Opciones opciones;
    opciones.protocolo = parser.value(protocolo);
    bool ok = false;
    opciones.peso = parser.value(peso).toDouble(&ok);
    if (!ok) {
        std::fprintf(stderr, "peso no válido: %s\n", qPrintable(parser.value(peso)));
        return 2;
    }
    opciones.demoraMs = parser.value(demora).toInt(&ok);
    if (!ok || opciones.demoraMs < 0) {
        std::fprintf(stderr, "demora no válida: %s\n", qPrintable(parser.value(demora)));
        return 2;
    }
    opciones.intervaloMs = parser.value(intervalo).toInt(&ok);
    if (!ok || opciones.intervaloMs <= 0) {
        std::fprintf(stderr, "intervalo no válido: %s\n", qPrintable(parser.value(intervalo)));
        return 2;
    }
    opciones.asentarMs = parser.value(asentar).toInt(&ok);
    if (!ok || opciones.asentarMs < 0) {
        std::fprintf(stderr, "asentar no válido: %s\n", qPrintable(parser.value(asentar)));
        return 2;
    }
    if (!Simulador::LeerFalla(parser.value(falla), opciones.falla)) {
        std::fprintf(stderr, "falla no válida: %s\n", qPrintable(parser.value(falla)));
        return 2;
    }
    opciones.enlace = parser.value(enlace);
    opciones.informe = parser.value(informe);

    const QByteArray enlaceLocal = opciones.enlace.toLocal8Bit();
    if (size_t(enlaceLocal.size()) >= sizeof g_enlace) {
        std::fprintf(stderr, "ruta del enlace demasiado larga\n");
        return 2;
    }
    std::memcpy(g_enlace, enlaceLocal.constData(), size_t(enlaceLocal.size()));
    std::signal(SIGTERM, AlTerminarPorSenal);
    std::signal(SIGINT, AlTerminarPorSenal);
    std::signal(SIGHUP, AlTerminarPorSenal);

    Simulador simulador(opciones);
    QString error;
    if (!simulador.Iniciar(error)) {
        std::fprintf(stderr, "no se pudo abrir el pseudoterminal: %s\n", qPrintable(error));
        return 1;
    }
    QObject::connect(&simulador, &Simulador::terminado, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    Escribir(simulador.Ruta() + u'\n');

    QSocketNotifier entrada(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pendiente;
    QObject::connect(&entrada, &QSocketNotifier::activated, &simulador, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            // No more commands (closed or not a terminal): keep serving the line.
            entrada.setEnabled(false);
            return;
        }
        pendiente.append(buffer, int(n));
        qsizetype fin;
        while ((fin = pendiente.indexOf('\n')) >= 0) {
            const QString orden = QString::fromLocal8Bit(pendiente.left(fin));
            pendiente.remove(0, fin + 1);
            Escribir(simulador.Ordenar(orden));
        }
    });

    return app.exec();
}
