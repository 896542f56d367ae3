#include "base/lanzador.h"

#include "base/proceso_externo.h"
#include "base/registro.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

LanzadorQt::LanzadorQt(QObject* parent)
    : QObject(parent)
{
}

QString LanzadorQt::BuscarPrograma(const QString& nombre) const
{
    return QStandardPaths::findExecutable(nombre);
}

bool LanzadorQt::IniciarDesligado(const QString& programa, const QStringList& argumentos, const QString& carpeta,
                                  int& codigo)
{
    QProcess proceso;
    proceso.setProgram(programa);
    proceso.setArguments(argumentos);
    proceso.setWorkingDirectory(carpeta);
    // The program must not share the agent's standard channels: it outlives them.
    proceso.setStandardInputFile(QProcess::nullDevice());
    proceso.setStandardOutputFile(QProcess::nullDevice());
    proceso.setStandardErrorFile(QProcess::nullDevice());
    PrepararInicioOculto(proceso);
    // startDetached reports the real start (the exec, not the fork) before it returns, without an event loop.
    qint64 pid = 0;
    if (proceso.startDetached(&pid)) {
        return true;
    }
    codigo = CodigoErrorInicio(programa, carpeta, proceso);
    return false;
}

void LanzadorQt::IniciarConEntrada(const QString& programa, const QStringList& argumentos, const QByteArray& entrada,
                                   AlIniciar alIniciar, AlTerminar alTerminar)
{
    auto* proceso = new QProcess(this);
    proceso->setProgram(programa);
    proceso->setArguments(argumentos);
    proceso->setStandardOutputFile(QProcess::nullDevice());
    PrepararInicioOculto(*proceso);

    // Exactly one of started / errorOccurred(FailedToStart) follows start(); the shared slot makes sure the caller
    // hears once.
    auto pendiente = std::make_shared<AlIniciar>(std::move(alIniciar));
    const auto avisarInicio = [pendiente](bool iniciado) {
        if (*pendiente) {
            const AlIniciar aviso = std::move(*pendiente);
            *pendiente = nullptr;
            aviso(iniciado);
        }
    };
    connect(proceso, &QProcess::started, this, [avisarInicio] { avisarInicio(true); });
    connect(proceso, &QProcess::errorOccurred, this, [proceso, avisarInicio](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            avisarInicio(false);
            proceso->deleteLater();
        }
    });
    connect(proceso, &QProcess::finished, this,
            [proceso, alTerminar = std::move(alTerminar)](int codigo, QProcess::ExitStatus estado) {
                const QString errores = QString::fromLocal8Bit(proceso->readAllStandardError());
                proceso->deleteLater();
                if (alTerminar) {
                    alTerminar(codigo, estado == QProcess::NormalExit, errores);
                }
            });

    proceso->start();
    if (proceso->state() != QProcess::NotRunning) {
        // Buffered now, handed over as the pipe takes it; the input is closed once all of it has gone.
        proceso->write(entrada);
        proceso->closeWriteChannel();
    }
}

std::unique_ptr<Lanzador> CrearLanzadorDelSistema()
{
    return std::make_unique<LanzadorQt>();
}

bool EjecutarPrograma(Lanzador& lanzador, const QString& programa, const QStringList& argumentos,
                      const QString& carpeta)
{
    int codigo = 0;
    if (lanzador.IniciarDesligado(programa, argumentos, carpeta, codigo)) {
        return true;
    }
    EscribirLog(QStringLiteral("? Error al ejecutar ") + QDir::toNativeSeparators(programa) +
                QStringLiteral(" | Código: ") + QString::number(codigo));
    return false;
}
