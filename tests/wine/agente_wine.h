#pragma once

#include "support/agente_prueba.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The deployed Windows agent (plugin-tornavo.exe and its folder) run under Wine from a Linux test: a copy of the
// folder of its own, with its own config.ini and a free HTTP port. Only the folder's own DLLs and plugins are
// available to it (no WINEPATH, no QT_PLUGIN_PATH), as on a shop's computer.
class AgenteWine final : public soporte::ClienteAgente
{
public:
    AgenteWine();
    ~AgenteWine() override;
    AgenteWine(const AgenteWine&) = delete;
    AgenteWine& operator=(const AgenteWine&) = delete;

    // Where the test's folder is, as Linux and as the Windows program see it.
    QString Carpeta() const override { return m_carpeta; }
    QString CarpetaWindows() const { return RutaWindows(m_carpeta); }
    // Another agent's port, to share its instance lock.
    void FijarPuerto(quint16 puerto) { m_puerto = puerto; }

    // Writes config.ini: [Configuracion], PuertoHTTP, then the extra lines (CR LF).
    void Configurar(const QString& lineasExtra = QString());
    void ConfigurarTexto(const QByteArray& contenido);
    // An environment variable for the agent (and the programs it starts).
    void FijarEntorno(const QString& nombre, const QString& valor) { m_entorno.insert(nombre, valor); }
    void QuitarEntorno(const QString& nombre) { m_entorno.remove(nombre); }

    // Starts it; true once it accepts connections.
    bool Iniciar(int msEspera = 60000);
    // Starts it and waits for it to end on its own: its exit code, or -1 when it did not end in time.
    int EjecutarHastaFin(int msEspera = 60000);
    // Ends it with `taskkill /F` (see e2e_wine.cpp for why nothing gentler is used) and waits for the process.
    void Terminar();
    QProcess& Proceso() { return m_proceso; }

    // The day's log as bytes, CR LF and all.
    QByteArray BytesLog() const;

    // Runs a Windows program of the prefix (taskkill, reg, ...) and returns its standard output.
    static QByteArray EjecutarWine(const QStringList& argumentos, int* codigo = nullptr);
    static QString RutaWindows(const QString& rutaLinux);
    // Ends every program of the prefix (wineserver -k) and waits for it.
    static void ReiniciarWine();
    static QString Prefijo();
    // Makes the prefix if it does not exist yet; an empty text when it is ready, else why not.
    static QString PrepararPrefijo();

private:
    bool CopiarCarpeta();
    void Arrancar();

    QTemporaryDir m_temporal;
    QString m_carpeta;
    QProcess m_proceso;
    QProcessEnvironment m_entorno;
};
