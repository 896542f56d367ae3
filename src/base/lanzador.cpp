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

void Lanzador::IniciarConEntradaYSalida(const QString& programa, const QStringList& argumentos,
                                        const QByteArray& entrada, const QStringList&, AlIniciar alIniciar,
                                        AlTerminarConSalida alTerminar)
{
    IniciarConEntrada(programa, argumentos, entrada, std::move(alIniciar),
                      [alTerminar = std::move(alTerminar)](int codigo, bool normal, const QString& errores) {
                          if (alTerminar) {
                              alTerminar(codigo, normal, errores, QByteArray());
                          }
                      });
}

void LanzadorQt::IniciarConEntrada(const QString& programa, const QStringList& argumentos, const QByteArray& entrada,
                                   AlIniciar alIniciar, AlTerminar alTerminar)
{
    IniciarConEntradaYSalida(programa, argumentos, entrada, {}, std::move(alIniciar),
                             alTerminar
                                 ? AlTerminarConSalida([alTerminar = std::move(alTerminar)](
                                                           int codigo, bool normal, const QString& errores,
                                                           const QByteArray&) { alTerminar(codigo, normal, errores); })
                                 : AlTerminarConSalida());
}

void LanzadorQt::IniciarConEntradaYSalida(const QString& programa, const QStringList& argumentos,
                                          const QByteArray& entrada, const QStringList& entorno, AlIniciar alIniciar,
                                          AlTerminarConSalida alTerminar)
{
    auto* proceso = new QProcess(this);
    proceso->setProgram(programa);
    proceso->setArguments(argumentos);
    const bool conSalida = static_cast<bool>(alTerminar);
    if (!conSalida) {
        proceso->setStandardOutputFile(QProcess::nullDevice());
    }
    if (!entorno.isEmpty()) {
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const QString& variable : entorno) {
            variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        }
        proceso->setProcessEnvironment(variables);
    }
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
                const QByteArray salida = alTerminar ? proceso->readAllStandardOutput() : QByteArray();
                proceso->deleteLater();
                if (alTerminar) {
                    alTerminar(codigo, estado == QProcess::NormalExit, errores, salida);
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
