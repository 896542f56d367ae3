// The least a Qt agent can do before its first answer: the reference the start-up bench compares the agent with.
// Shows a 461 x 318 window and answers every request on the port given (127.0.0.1) with a fixed 200 answer.
#include <QApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication aplicacion(argc, argv);
    const quint16 puerto = argc > 1 ? static_cast<quint16>(QByteArray(argv[1]).toUShort()) : 9999;
    QTcpServer servidor;
    QObject::connect(&servidor, &QTcpServer::newConnection, [&servidor] {
        while (QTcpSocket* socket = servidor.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}");
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    if (!servidor.listen(QHostAddress::LocalHost, puerto)) {
        return 1;
    }
    QWidget ventana;
    ventana.setFixedSize(461, 318);
    ventana.show();
    return QApplication::exec();
}
