#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Starts outside programs. The agent never waits for them: whatever it learns later comes through callbacks from
// the event loop.
class Lanzador
{
public:
    // Called once: true when the program started, false when it could not be started.
    using AlIniciar = std::function<void(bool iniciado)>;
    // Called once when a started program ends: its exit code, whether it exited by itself (not killed or crashed),
    // and what it wrote on its error output.
    using AlTerminar = std::function<void(int codigo, bool normal, const QString& errores)>;

    virtual ~Lanzador() = default;

    // Full path of an executable found on PATH, or empty text.
    virtual QString BuscarPrograma(const QString& nombre) const = 0;

    // Starts `programa` on its own, with no window where the platform has windows. True when it started; otherwise
    // `codigo` is the platform's code for the failed start.
    virtual bool IniciarDesligado(const QString& programa, const QStringList& argumentos, const QString& carpeta,
                                  int& codigo) = 0;

    // Starts `programa` and gives it `entrada` on its standard input, then closes that input. `alIniciar` may run
    // before this returns (a start that fails at once) or later from the event loop.
    virtual void IniciarConEntrada(const QString& programa, const QStringList& argumentos, const QByteArray& entrada,
                                   AlIniciar alIniciar, AlTerminar alTerminar) = 0;

    // As AlTerminar, with what the program wrote on its standard output.
    using AlTerminarConSalida =
        std::function<void(int codigo, bool normal, const QString& errores, const QByteArray& salida)>;
    // As IniciarConEntrada, with `entorno` ("NOMBRE=valor") added to the program's environment and its standard
    // output kept for `alTerminar`. A launcher that cannot keep it hears nothing on it.
    virtual void IniciarConEntradaYSalida(const QString& programa, const QStringList& argumentos,
                                          const QByteArray& entrada, const QStringList& entorno, AlIniciar alIniciar,
                                          AlTerminarConSalida alTerminar);
};

// The real launcher: QProcess with an argument list, never a shell. Programs still running when it is destroyed
// are stopped.
class LanzadorQt final : public QObject, public Lanzador
{
    Q_OBJECT

public:
    explicit LanzadorQt(QObject* parent = nullptr);

    QString BuscarPrograma(const QString& nombre) const override;
    bool IniciarDesligado(const QString& programa, const QStringList& argumentos, const QString& carpeta,
                          int& codigo) override;
    void IniciarConEntrada(const QString& programa, const QStringList& argumentos, const QByteArray& entrada,
                           AlIniciar alIniciar, AlTerminar alTerminar) override;
    void IniciarConEntradaYSalida(const QString& programa, const QStringList& argumentos, const QByteArray& entrada,
                                  const QStringList& entorno, AlIniciar alIniciar,
                                  AlTerminarConSalida alTerminar) override;
};

std::unique_ptr<Lanzador> CrearLanzadorDelSistema();

// Starts a program on its own in `carpeta`. On failure logs "? Error al ejecutar " + path + " | Código: " + the
// platform's code and returns false; on success logs nothing.
bool EjecutarPrograma(Lanzador& lanzador, const QString& programa, const QStringList& argumentos,
                      const QString& carpeta);
