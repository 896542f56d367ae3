#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

// Headless Chromium with a fresh profile, driven over the DevTools protocol on --remote-debugging-pipe (JSON
// messages separated by NUL bytes; the browser reads them on its descriptor 3 and writes on 4). Waits run the
// event loop, so servers living in the test process keep answering the browser meanwhile.
class Navegador final : public QObject
{
    Q_OBJECT

public:
    explicit Navegador(QObject* parent = nullptr);
    ~Navegador() override;
    Navegador(const Navegador&) = delete;
    Navegador& operator=(const Navegador&) = delete;

    // TORNAVO_CHROMIUM when set, otherwise chromium on the PATH or /usr/bin/chromium; empty when none.
    static QString Programa();

    // Starts the browser with the fixed headless flags plus `argumentos`; empty text when it answers, otherwise why
    // not.
    QString Iniciar(const QStringList& argumentos = {});
    // Asks the browser to close, then ends its whole process group.
    void Cerrar();

    // Browser.grantPermissions for one origin.
    bool Conceder(const QString& origen, const QStringList& permisos, QString* error = nullptr);
    // Opens `url` in the browser's one tab (created on first use) and waits for its load event.
    bool Abrir(const QUrl& url, QString* error = nullptr);
    // Evaluates a JavaScript expression in the page as if after a user's click; a promise is awaited. Returns the
    // JSON value; on an exception or a timeout, an undefined value and the reason in `error`.
    QJsonValue Evaluar(const QString& expresion, QString* error = nullptr, int msEspera = 60000);
    // Chooses `archivo` in the page's file input `campo` (a JavaScript expression), as a user would.
    bool ElegirArchivo(const QString& campo, const QString& archivo, QString* error = nullptr);

    QByteArray SalidaDeError();

signals:
    void mensajeRecibido();

private:
    // Sends a command and waits for its answer; an empty object after `msEspera` or when the browser has gone.
    QJsonObject Llamar(const QString& metodo, const QJsonObject& parametros = {}, bool enSesion = false,
                       int msEspera = 30000);
    bool EsperarEvento(const QString& metodo, int msEspera);
    void Leer();
    void CerrarCanal();

    QProcess m_proceso;
    qint64 m_grupo = 0;
    std::unique_ptr<QTemporaryDir> m_perfil;
    int m_escritura = -1;
    int m_lectura = -1;
    std::unique_ptr<QSocketNotifier> m_aviso;
    QByteArray m_pendiente;
    int m_ultimoId = 0;
    QHash<int, QJsonObject> m_respuestas;
    QList<QJsonObject> m_eventos;
    QString m_sesion;
    QByteArray m_errores;
};
