#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <memory>

// Serves fixed files over HTTP or HTTPS on loopback, as the web application's own server would serve its pages.
// One request per connection; every other path gets 404.
class ServidorPaginas final : public QObject
{
    Q_OBJECT

public:
    explicit ServidorPaginas(QObject* parent = nullptr);
    ~ServidorPaginas() override;

    void Publicar(const QString& ruta, const QByteArray& contenido, const QByteArray& tipo);
    // Plain HTTP without a certificate; HTTPS with one (PEM). False when the port cannot be opened.
    bool Iniciar(const QByteArray& certificadoPem = {}, const QByteArray& clavePem = {}, QString* error = nullptr);
    quint16 Puerto() const;

private:
    void Atender();

    struct Archivo
    {
        QByteArray contenido;
        QByteArray tipo;
    };
    std::unique_ptr<QTcpServer> m_servidor;
    QHash<QString, Archivo> m_archivos;
};
