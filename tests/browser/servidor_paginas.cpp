#include "servidor_paginas.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>

ServidorPaginas::ServidorPaginas(QObject* parent)
    : QObject(parent)
{
}

ServidorPaginas::~ServidorPaginas() = default;

void ServidorPaginas::Publicar(const QString& ruta, const QByteArray& contenido, const QByteArray& tipo)
{
    m_archivos.insert(ruta, Archivo{contenido, tipo});
}

bool ServidorPaginas::Iniciar(const QByteArray& certificadoPem, const QByteArray& clavePem, QString* error)
{
    if (certificadoPem.isEmpty()) {
        m_servidor = std::make_unique<QTcpServer>();
    } else {
        const QSslCertificate certificado(certificadoPem, QSsl::Pem);
        const QSslKey clave(clavePem, QSsl::Rsa, QSsl::Pem);
        if (certificado.isNull() || clave.isNull()) {
            if (error != nullptr) {
                *error = QStringLiteral("certificado o clave ilegibles");
            }
            return false;
        }
        QSslConfiguration configuracion = QSslConfiguration::defaultConfiguration();
        configuracion.setLocalCertificate(certificado);
        configuracion.setPrivateKey(clave);
        configuracion.setPeerVerifyMode(QSslSocket::VerifyNone);
        auto seguro = std::make_unique<QSslServer>();
        seguro->setSslConfiguration(configuracion);
        m_servidor = std::move(seguro);
    }
    // An encrypted connection is pending only once its handshake is over, long after newConnection.
    connect(m_servidor.get(), &QTcpServer::pendingConnectionAvailable, this, &ServidorPaginas::Atender);
    if (!m_servidor->listen(QHostAddress::LocalHost, 0)) {
        if (error != nullptr) {
            *error = m_servidor->errorString();
        }
        return false;
    }
    return true;
}

quint16 ServidorPaginas::Puerto() const
{
    return m_servidor ? m_servidor->serverPort() : 0;
}

void ServidorPaginas::Atender()
{
    while (QTcpSocket* socket = m_servidor->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket->property("respondido").toBool()) {
                socket->readAll();
                return;
            }
            QByteArray recibido = socket->property("recibido").toByteArray() + socket->readAll();
            if (!recibido.contains("\r\n\r\n")) {
                socket->setProperty("recibido", recibido);
                return;
            }
            socket->setProperty("respondido", true);
            const QByteArray linea = recibido.left(recibido.indexOf("\r\n"));
            const QList<QByteArray> partes = linea.split(' ');
            QString ruta = partes.size() >= 2 ? QString::fromUtf8(partes[1]) : QString();
            ruta = ruta.section(u'?', 0, 0);
            const auto encontrado = m_archivos.constFind(ruta);
            QByteArray respuesta;
            if (partes.value(0) == "GET" && encontrado != m_archivos.cend()) {
                respuesta = "HTTP/1.1 200 OK\r\nContent-Type: " + encontrado->tipo +
                            "\r\nCache-Control: no-store\r\nContent-Length: " +
                            QByteArray::number(encontrado->contenido.size()) + "\r\nConnection: close\r\n\r\n" +
                            encontrado->contenido;
            } else {
                respuesta = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n"
                            "Connection: close\r\n\r\nno";
            }
            socket->write(respuesta);
            socket->disconnectFromHost();
        });
        // An encrypted socket may hold its request already.
        if (socket->bytesAvailable() > 0) {
            emit socket->readyRead();
        }
    }
}
