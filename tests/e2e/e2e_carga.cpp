// The real agent under load and faults: idle connections, malformed requests, a taken port, a full disk and a
// read-only log folder. It must keep serving and say what is wrong.
#include "support/agente_prueba.h"
#include "support/soporte.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

using soporte::AgenteDePrueba;

namespace {

qint64 MemoriaResidenteKb(qint64 pid)
{
    QFile estado(QStringLiteral("/proc/%1/status").arg(pid));
    if (!estado.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& linea : estado.readAll().split('\n')) {
        if (linea.startsWith("VmRSS:")) {
            return linea.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// Writes a request, ends its side and waits for the agent to close, as broken or hostile clients do. Plain
// blocking sockets: thousands of them in a row stay fast.
void EnviarYMarchar(quint16 puerto, const QByteArray& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in destino = {};
    destino.sin_family = AF_INET;
    destino.sin_port = htons(puerto);
    destino.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval espera = {10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &espera, sizeof(espera));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&destino), sizeof(destino)) == 0) {
        for (qsizetype enviados = 0; enviados < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + enviados, bytes.size() - enviados, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            enviados += n;
        }
        ::shutdown(fd, SHUT_WR);
        char descarte[4096];
        while (::recv(fd, descarte, sizeof(descarte), 0) > 0) {
        }
    }
    ::close(fd);
}

QByteArray Malformada(int i, QRandomGenerator& azar)
{
    switch (i % 6) {
    case 0: { // random bytes
        QByteArray bytes(1 + azar.bounded(600), Qt::Uninitialized);
        for (char& c : bytes) {
            c = static_cast<char>(azar.bounded(256));
        }
        return bytes;
    }
    case 1: // a head cut short
        return QByteArray("GET /status HTTP/1.1\r\nOrigin: https://app.tor").left(1 + azar.bounded(45));
    case 2: // an absurd length, below the limit, and a body that never comes
        return "POST /csv-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 60000000\r\n\r\n{";
    case 3: { // NUL bytes everywhere
        static const char kConNulos[] = "GET /\0status HTTP/1.1\r\nOrigin:\0 https://app.tornavo.com\r\n\r\n";
        return QByteArray(kConNulos, sizeof(kConNulos) - 1);
    }
    case 4: // a length that is not a number, and a JSON body that is not JSON
        return "POST /print-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: "
               "-5\r\n\r\n{\"base64\":";
    default: // over the limit
        return "POST /print-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: 99999999999\r\n\r\n";
    }
}

constexpr int ServidorWebRanuras = 101;

// Sends `cantidad` /status requests at once; true when every one is answered.
bool TodasAtendidas(quint16 puerto, int cantidad)
{
    std::vector<std::unique_ptr<QTcpSocket>> juntas;
    for (int i = 0; i < cantidad; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), puerto);
        if (!socket->waitForConnected(5000)) {
            return false;
        }
        socket->write("GET /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n");
        juntas.push_back(std::move(socket));
    }
    for (auto& socket : juntas) {
        QByteArray recibido;
        while (socket->state() == QAbstractSocket::ConnectedState && socket->waitForReadyRead(10000)) {
            recibido += socket->readAll();
        }
        recibido += socket->readAll();
        if (!recibido.startsWith("HTTP/1.1 200 OK")) {
            qWarning("unanswered: %s", recibido.left(80).constData());
            return false;
        }
    }
    return true;
}

bool PuedeMontar()
{
    return ::geteuid() == 0;
}

} // namespace

class E2eCarga : public QObject
{
    Q_OBJECT

private slots:
    void idleConnectionsDoNotKeepRequestsOut();
    void malformedRequestsLeaveNothingBehind();
    void takenPortIsReportedAndTheAgentStaysUp();
    void fullDiskKeepsServingAndKeepsTheEarlierCsv();
    void readOnlyLogFolderKeepsServing();
};

void E2eCarga::idleConnectionsDoNotKeepRequestsOut()
{
    AgenteDePrueba agente;
    agente.Configurar(QStringLiteral("Comportamiento=x\r\n"));
    QVERIFY(agente.Iniciar());

    std::vector<std::unique_ptr<QTcpSocket>> ociosas;
    for (int i = 0; i < 300; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), agente.Puerto());
        ociosas.push_back(std::move(socket));
    }
    for (auto& socket : ociosas) {
        socket->waitForConnected(100);
    }
    // Requests keep coming while 300 connections say nothing: every one is answered.
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(agente.Get(QStringLiteral("/status")).estado, 200);
    }
    // After the idle time the agent has closed every silent connection it took, without answering any; those the
    // kernel's queue never completed are not its to close.
    QDeadlineTimer limite(60000);
    int cerradas = 0;
    while (cerradas < ServidorWebRanuras && !limite.hasExpired()) {
        cerradas = 0;
        for (auto& socket : ociosas) {
            socket->waitForReadyRead(0);
            cerradas += socket->state() == QAbstractSocket::UnconnectedState ? 1 : 0;
        }
        QTest::qWait(200);
    }
    QVERIFY2(cerradas >= ServidorWebRanuras, qPrintable(QString::number(cerradas)));
    for (auto& socket : ociosas) {
        QVERIFY(socket->readAll().isEmpty());
    }
    // And every slot is free: as many requests as there are slots, at once, are all answered.
    QVERIFY(TodasAtendidas(agente.Puerto(), ServidorWebRanuras));
}

void E2eCarga::malformedRequestsLeaveNothingBehind()
{
    AgenteDePrueba agente;
    agente.Configurar(QStringLiteral("Comportamiento=x\r\nProgramaQendra=/no/existe\r\nCarpetaCSV=%1/datos\r\n")
                          .arg(agente.Carpeta()));
    // A small quarantine, so that the sanitizer's own bookkeeping does not look like growth.
    QVERIFY(agente.Iniciar({QStringLiteral("ASAN_OPTIONS=quarantine_size_mb=1:detect_leaks=0")}));
    const qint64 pid = agente.Proceso().processId();

    QRandomGenerator azar(20261208);
    const QByteArray lineaDeUnMega = "GET /" + QByteArray(1024 * 1024, 'a') + " HTTP/1.1\r\n\r\n";
    qint64 memoriaMitad = 0;
    for (int i = 0; i < 10000; ++i) {
        EnviarYMarchar(agente.Puerto(), i % 500 == 0 ? lineaDeUnMega : Malformada(i, azar));
        if (i == 4999) {
            QCOMPARE(agente.Get(QStringLiteral("/status")).estado, 200);
            memoriaMitad = MemoriaResidenteKb(pid);
        }
    }
    QVERIFY(agente.Proceso().state() == QProcess::Running);

    // Every slot is free again.
    QVERIFY(TodasAtendidas(agente.Puerto(), ServidorWebRanuras));

    // Flat: the second half of the run did not make it grow beyond noise.
    const qint64 memoriaFinal = MemoriaResidenteKb(pid);
    QVERIFY2(memoriaFinal - memoriaMitad < 8 * 1024,
             qPrintable(QStringLiteral("%1 kB -> %2 kB").arg(memoriaMitad).arg(memoriaFinal)));
    // Nothing was written to the data folder, and no log line carries a megabyte.
    QVERIFY(QDir(agente.Carpeta() + QStringLiteral("/datos")).entryList(QDir::Files).isEmpty());
    for (const QString& linea : agente.LineasLog()) {
        QVERIFY(linea.size() < 8192);
    }
}

void E2eCarga::takenPortIsReportedAndTheAgentStaysUp()
{
    AgenteDePrueba agente;
    QTcpServer ocupante;
    QVERIFY(ocupante.listen(QHostAddress::LocalHost, agente.Puerto()));
    agente.Configurar(QStringLiteral("Comportamiento=x\r\nDireccionEscucha=127.0.0.1\r\n"));
    // Started without waiting for its port, which is someone else's.
    QVERIFY(agente.Iniciar({}, 15000));
    QVERIFY(agente.EsperarLineaLog(QStringLiteral("] ? Error al iniciar el servidor Web: ")));
    QTRY_VERIFY_WITH_TIMEOUT(agente.SalidaDeError().contains("? Error al iniciar el servidor Web."), 10000);
    QTest::qWait(300);
    QCOMPARE(agente.Proceso().state(), QProcess::Running);
}

void E2eCarga::fullDiskKeepsServingAndKeepsTheEarlierCsv()
{
    if (!PuedeMontar()) {
        QSKIP("mounting a small tmpfs needs root");
    }
    QTemporaryDir base;
    const QString disco = base.filePath(QStringLiteral("disco"));
    QVERIFY(QDir().mkpath(disco));
    const qint64 ejecutable = QFileInfo(soporte::CarpetaBinarios() + QStringLiteral("/plugin-tornavo")).size();
    const QByteArray opciones = "size=" + QByteArray::number(ejecutable + 4 * 1024 * 1024);
    if (::mount("tmpfs", disco.toLocal8Bit().constData(), "tmpfs", 0, opciones.constData()) != 0) {
        QSKIP("this machine does not allow mounting a tmpfs");
    }
    const auto desmontar = qScopeGuard([&] { ::umount2(disco.toLocal8Bit().constData(), MNT_DETACH); });

    // The agent's own program folder, on the small disk.
    QVERIFY(QFile::copy(soporte::CarpetaBinarios() + QStringLiteral("/plugin-tornavo"),
                        disco + QStringLiteral("/plugin-tornavo")));
    QFile::setPermissions(disco + QStringLiteral("/plugin-tornavo"),
                          QFileDevice::ExeOwner | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const quint16 puerto = soporte::PuertoLibre();
    QVERIFY(soporte::EscribirArchivo(disco + QStringLiteral("/config.ini"),
                                     QStringLiteral("[Configuracion]\r\nPuertoHTTP=%1\r\nComportamiento=x\r\n"
                                                    "CarpetaCSV=%2/datos\r\nProgramaQendra=/no/existe\r\n")
                                         .arg(puerto)
                                         .arg(disco)
                                         .toUtf8()));
    QProcess proceso;
    proceso.setWorkingDirectory(disco);
    proceso.start(disco + QStringLiteral("/plugin-tornavo"), {});
    QVERIFY(proceso.waitForStarted());
    const auto detener = qScopeGuard([&] { soporte::DetenerProceso(proceso); });
    const auto pedir = [&](const QByteArray& bytes) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), puerto);
        if (!socket.waitForConnected(2000)) {
            return soporte::RespuestaHttp();
        }
        socket.write(bytes);
        QByteArray recibido;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000)) {
            recibido += socket.readAll();
        }
        return soporte::AnalizarRespuesta(recibido + socket.readAll());
    };
    const auto csv = [&](const QByteArray& contenido) {
        const QByteArray cuerpo = "{\"base64\":\"" + contenido.toBase64() + "\",\"nombreArchivo\":\"a.csv\"}";
        return pedir("POST /csv-base64 HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\nContent-Length: " +
                     QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo);
    };
    QTRY_VERIFY_WITH_TIMEOUT(pedir("GET /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n").estado == 200,
                             15000);
    const QByteArray primero = "codigo;precio\r\n1;2.50\r\n";
    QVERIFY(csv(primero).cuerpo.contains("CSV recibido pero no se pudo ejecutar Qendra"));

    // Fill the disk to the last byte.
    {
        QFile relleno(disco + QStringLiteral("/relleno"));
        QVERIFY(relleno.open(QIODevice::WriteOnly));
        const QByteArray bloque(64 * 1024, 'x');
        while (relleno.write(bloque) == bloque.size() && relleno.flush()) {
        }
        const QByteArray byte(1, 'x');
        while (relleno.write(byte) == 1 && relleno.flush()) {
        }
    }
    const soporte::RespuestaHttp lleno = csv(QByteArray(256 * 1024, 'z'));
    QCOMPARE(lleno.estado, 200);
    QCOMPARE(lleno.cuerpo, QByteArray("{\"success\":false,\"error\":\"No se pudo guardar el CSV\"}"));
    QFile anterior(disco + QStringLiteral("/datos/a.csv"));
    QVERIFY(anterior.open(QIODevice::ReadOnly));
    QCOMPARE(anterior.readAll(), primero);
    QCOMPARE(pedir("GET /status HTTP/1.1\r\nOrigin: https://app.tornavo.com\r\n\r\n").estado, 200);
}

void E2eCarga::readOnlyLogFolderKeepsServing()
{
    if (!PuedeMontar()) {
        QSKIP("mounting a read-only folder needs root");
    }
    AgenteDePrueba agente;
    agente.Configurar(QStringLiteral("Comportamiento=x\r\n"));
    const QString logs = agente.Carpeta() + QStringLiteral("/logs");
    QVERIFY(QDir().mkpath(logs));
    if (::mount("tmpfs", logs.toLocal8Bit().constData(), "tmpfs", MS_RDONLY, "size=1m") != 0) {
        QSKIP("this machine does not allow mounting a tmpfs");
    }
    const auto desmontar = qScopeGuard([&] { ::umount2(logs.toLocal8Bit().constData(), MNT_DETACH); });
    QVERIFY(agente.Iniciar());
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(agente.Get(QStringLiteral("/status")).estado, 200);
    }
    QCOMPARE(agente.Get(QStringLiteral("/nada")).cuerpo, QByteArray("Ruta no v\xc3\xa1lida"));
    QVERIFY(QDir(logs).entryList(QDir::Files).isEmpty());
    agente.Detener();
}

QTEST_GUILESS_MAIN(E2eCarga)
#include "e2e_carga.moc"
