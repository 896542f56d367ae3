// The whole request handling, from received bytes to answer bytes: the bytes are gathered in pieces the way a
// connection slot gathers them, the complete request goes through the request handler, and the endpoints are the
// real printing and CSV classes over a fixed printer list, a spooler that keeps what it is given and a launcher that
// starts nothing.
//
// Input: byte 0 holds switches (see Opciones), byte 1 how the rest is cut into pieces; the rest is what the peer
// sends.
#include "comun.h"

#include "base/base64.h"
#include "base/json.h"
#include "base/lanzador.h"
#include "base/lector_base64_json.h"
#include "handoff/entrega_csv.h"
#include "http/ensamblador.h"
#include "http/estado.h"
#include "http/manejador.h"
#include "http/protocolo.h"
#include "http/rutas.h"
#include "printing/impresion.h"
#include "printing/lista_impresoras.h"
#include "printing/spooler.h"
#include "printing/visor_cups.h"
#include "settings/configuracion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

const QString kPeso = QStringLiteral("12.345");

struct Opciones
{
    explicit Opciones(uint8_t b)
        : dev(b & 0x01)
        , spoolerAbre(b & 0x02)
        , programaInicia(b & 0x04)
        , diferido(b & 0x08)
        , limitePequeno(b & 0x10)
        , silencioAntesDelFin(b & 0x20)
        , sinImpresoras(b & 0x40)
        , spoolerRechaza(b & 0x80)
    {
    }
    bool dev;                 // MODE=DEV instead of PRO
    bool spoolerAbre;         // the spooler opens a job
    bool programaInicia;      // the launcher's starts succeed
    bool diferido;            // the weight and the print start answer later, from the event loop
    bool limitePequeno;       // a request limit of a few hundred bytes instead of 64 MiB
    bool silencioAntesDelFin; // an incomplete request gets a quiet spell before the peer's end
    bool sinImpresoras;       // no printer installed
    bool spoolerRechaza;      // the spooler refuses a job once it has every byte
};

// Counts what runs later from the event loop, so the run can wait until everything has answered.
int g_pendientes = 0;

template <typename F> void MasTarde(F funcion)
{
    ++g_pendientes;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [funcion = std::move(funcion)]() mutable {
            --g_pendientes;
            funcion();
        },
        Qt::QueuedConnection);
}

class ListaFija final : public ListaImpresoras
{
public:
    QStringList nombres;
    QStringList Nombres() const override { return nombres; }
};

class LanzadorQuieto final : public Lanzador
{
public:
    bool inicia = true;

    int desligados = 0;
    QStringList argumentosDesligado;
    QString programaDesligado;

    QString BuscarPrograma(const QString& nombre) const override { return QStringLiteral("/usr/bin/") + nombre; }

    bool IniciarDesligado(const QString& programa, const QStringList& argumentos, const QString&, int& codigo) override
    {
        ++desligados;
        programaDesligado = programa;
        argumentosDesligado = argumentos;
        if (!inicia) {
            codigo = 2;
        }
        return inicia;
    }

    void IniciarConEntrada(const QString&, const QStringList&, const QByteArray&, AlIniciar alIniciar,
                           AlTerminar) override
    {
        alIniciar(false);
    }
};

class SpoolerQuieto final : public Spooler
{
public:
    bool abre = true;
    bool rechaza = false;
    bool diferir = false;

    int trabajos = 0;
    QByteArray recibido;

    void Predeterminada(AlSaberPredeterminada alSaber) override { alSaber(QStringLiteral("Caja")); }
    void Detalle(const QString&, AlSaberDetalle alSaber) override { alSaber(std::nullopt); }
    std::unique_ptr<EnvioDirecto> AbrirDirecto(const QString&, const QString&, QString& motivo) override
    {
        motivo = QStringLiteral("sin trabajos directos");
        return nullptr;
    }
    std::unique_ptr<EnvioDirecto> AbrirPDF(const QString&, const QString&, const QStringList&, QString& motivo) override
    {
        if (!abre) {
            motivo = QStringLiteral("no se pudo conectar");
            return nullptr;
        }
        recibido.clear();
        return std::make_unique<Envio>(*this);
    }
    void Consultar(const QString&, const QString&, AlSaberTrabajo alSaber) override { alSaber(InfoTrabajo()); }
    QString BuscarPorDocumento(const QString&, const QString&) const override { return QString(); }

private:
    class Envio final : public EnvioDirecto
    {
    public:
        explicit Envio(SpoolerQuieto& spooler)
            : m_spooler(spooler)
        {
        }
        bool Escribir(QByteArrayView trozo, QString&) override
        {
            m_spooler.recibido += trozo;
            return true;
        }
        void Terminar(AlTerminar alTerminar) override
        {
            auto responder = [this, alTerminar = std::move(alTerminar)] {
                if (m_spooler.rechaza) {
                    alTerminar(QString(), QStringLiteral("The printer or class does not exist."));
                } else {
                    alTerminar(QString::number(++m_spooler.trabajos), QString());
                }
            };
            if (m_spooler.diferir) {
                MasTarde(std::move(responder));
            } else {
                responder();
            }
        }

    private:
        SpoolerQuieto& m_spooler;
    };
};

QJsonObject ObjetoJSON(const QString& texto, const char* quien)
{
    QJsonParseError error{};
    const QJsonDocument documento = QJsonDocument::fromJson(texto.toUtf8(), &error);
    FUZZ_COMPROBAR(error.error == QJsonParseError::NoError && documento.isObject(),
                   QStringLiteral("%1 answered something that is not a JSON object: %2")
                       .arg(QLatin1String(quien), fuzz::Mostrar(texto)));
    return documento.object();
}

// An answer must hold a status line, headers and a body that its Content-Length describes.
void ComprobarRespuesta(const QByteArray& respuesta, qsizetype largoMaximo)
{
    const QString detalle = fuzz::Mostrar(respuesta);
    FUZZ_COMPROBAR(respuesta.startsWith("HTTP/1.1 "), QStringLiteral("answer without status line: ") + detalle);
    FUZZ_COMPROBAR(respuesta.size() <= largoMaximo,
                   QStringLiteral("answer of %1 bytes, more than %2: ").arg(respuesta.size()).arg(largoMaximo) +
                       detalle);
    const qsizetype finCabecera = respuesta.indexOf("\r\n\r\n");
    FUZZ_COMPROBAR(finCabecera > 0, QStringLiteral("answer without blank line: ") + detalle);
    QList<QByteArray> lineas;
    for (qsizetype inicio = 0; inicio <= finCabecera;) {
        qsizetype fin = respuesta.indexOf("\r\n", inicio);
        lineas << respuesta.sliced(inicio, fin - inicio);
        inicio = fin + 2;
    }
    const QByteArray estado = lineas.first();
    const QByteArray cuerpo = respuesta.sliced(finCabecera + 4);
    FUZZ_COMPROBAR(estado == "HTTP/1.1 200 OK" || estado == "HTTP/1.1 204 No Content" ||
                       estado == "HTTP/1.1 403 Forbidden" || estado == "HTTP/1.1 413 Payload Too Large",
                   QStringLiteral("unexpected status line: ") + detalle);
    qint64 largoDeclarado = -1;
    for (qsizetype i = 1; i < lineas.size(); ++i) {
        const QByteArray& linea = lineas[i];
        FUZZ_COMPROBAR(!linea.contains('\r') && !linea.contains('\n') && linea.indexOf(": ") > 0,
                       QStringLiteral("malformed header line: ") + detalle);
        if (linea.startsWith("Content-Length: ")) {
            FUZZ_COMPROBAR(largoDeclarado < 0, QStringLiteral("two Content-Length headers: ") + detalle);
            bool ok = false;
            largoDeclarado = linea.sliced(16).trimmed().toLongLong(&ok);
            FUZZ_COMPROBAR(ok, QStringLiteral("Content-Length is not a number: ") + detalle);
        }
    }
    if (estado == "HTTP/1.1 204 No Content") {
        FUZZ_COMPROBAR(largoDeclarado < 0 && cuerpo.isEmpty(), QStringLiteral("204 with a body: ") + detalle);
    } else {
        FUZZ_COMPROBAR(
            largoDeclarado == cuerpo.size(),
            QStringLiteral("Content-Length %1 for a body of %2 bytes: ").arg(largoDeclarado).arg(cuerpo.size()) +
                detalle);
    }
}

QByteArray CuerpoDe(const QByteArray& respuesta)
{
    return respuesta.sliced(respuesta.indexOf("\r\n\r\n") + 4);
}

struct Corte
{
    explicit Corte(uint8_t b)
        : maximo(b == 0 ? 0 : 1 + (b & 0x3F))
        , estado(0x9E3779B9u ^ (uint32_t(b) * 0x85EBCA6Bu))
    {
    }
    // Size of the next piece; 0 means "all that is left".
    qsizetype Siguiente()
    {
        if (maximo == 0) {
            return 0;
        }
        estado ^= estado << 13;
        estado ^= estado >> 17;
        estado ^= estado << 5;
        return 1 + qsizetype(estado % uint32_t(maximo));
    }
    int maximo;
    uint32_t estado;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Preparar();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano)
{
    if (tamano < 2) {
        return 0;
    }
    const Opciones op(datos[0]);
    Corte corte(datos[1]);
    const QByteArray entrada(reinterpret_cast<const char*>(datos) + 2, qsizetype(tamano - 2));
    fuzz::TomarLineasDelLog();

    const QString raiz = fuzz::CarpetaRaiz();
    const QString carpetaDatos = raiz + QStringLiteral("/datos");
    const QString carpetaPrograma = raiz + QStringLiteral("/programa");
    QDir().mkpath(carpetaPrograma);

    Configuracion cfg;
    cfg.MODE = op.dev ? QStringLiteral("DEV") : QStringLiteral("PRO");
    cfg.CarpetaCSV = carpetaDatos;
    cfg.ProgramaQendra = raiz + QStringLiteral("/qendra/Qendra.exe");

    ListaFija lista;
    if (!op.sinImpresoras) {
        // Names that need escaping in JSON, accents, spaces around, and one that differs only in case.
        lista.nombres = {QStringLiteral("Caja"), QStringLiteral("Impresión \"Fiscal\""),
                         QStringLiteral("a\\b"), QStringLiteral(" Oficina "),
                         QStringLiteral("caja"), QStringLiteral("PREDETERMINADA")};
    }
    LanzadorQuieto lanzador;
    lanzador.inicia = op.programaInicia;
    SpoolerQuieto spooler;
    spooler.abre = op.spoolerAbre;
    spooler.rechaza = op.spoolerRechaza;
    spooler.diferir = op.diferido;

    Impresion impresion(carpetaPrograma, lista, std::make_unique<VisorCups>(spooler, lista), RelojMonotono());
    EntregaCSV csv(cfg, lanzador);
    const QDateTime hora(QDate(2024, 5, 6), QTime(7, 8, 9));
    DocumentoEstado estado(
        cfg, [] { return quint16(9999); }, [hora] { return hora.toMSecsSinceEpoch(); });

    // Every body an endpoint gave, to be found again in the answer.
    QList<QByteArray> dados;
    bool csvGuardado = false;
    QString csvNombre;
    QByteArray csvContenido;
    Endpoints endpoints;
    endpoints.estado = [&] {
        const QString doc = estado.ObtenerEstado();
        ObjetoJSON(doc, "GET /status");
        dados << doc.toUtf8();
        return doc;
    };
    endpoints.impresoras = [&] {
        const QString doc = impresion.ListarImpresoras();
        const QJsonArray nombres = ObjetoJSON(doc, "GET /impresoras").value(QStringLiteral("impresoras")).toArray();
        QStringList leidos;
        for (const QJsonValue& v : nombres) {
            leidos << v.toString();
        }
        FUZZ_COMPROBAR(leidos == QStringList{kPredeterminada} + lista.nombres,
                       QStringLiteral("the catalogue does not give back the printer names: ") + fuzz::Mostrar(doc));
        dados << doc.toUtf8();
        return doc;
    };
    endpoints.peso = [&](Responder responder) {
        dados << kPeso.toUtf8();
        if (op.diferido) {
            MasTarde([responder] { responder(kPeso); });
        } else {
            responder(kPeso);
        }
    };
    endpoints.imprimir = [&](QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder) {
        const int trabajos = spooler.trabajos;
        impresion.Imprimir(cuerpo, std::move(lector), [&, cuerpo, trabajos, responder](const QString& respuesta) {
            const QJsonObject objeto = ObjetoJSON(respuesta, "POST /print-base64");
            FUZZ_COMPROBAR(objeto.value(QStringLiteral("success")).isBool(),
                           QStringLiteral("print answer without success: ") + fuzz::Mostrar(respuesta));
            if (objeto.value(QStringLiteral("success")).toBool()) {
                const QString nombre = LeerTexto(*ParsearJSON(cuerpo), QStringLiteral("nombreImpresora"));
                FUZZ_COMPROBAR(objeto.value(QStringLiteral("impresora")).toString() == nombre,
                               QStringLiteral("print answer names another printer: ") + fuzz::Mostrar(respuesta));
                FUZZ_COMPROBAR(spooler.trabajos == trabajos + 1,
                               QStringLiteral("printed without the spooler taking the job"));
                // The PDF this print saved: the newest in the program folder.
                const QFileInfoList pdfs =
                    QDir(carpetaPrograma).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Time);
                QFile pdf(pdfs.isEmpty() ? QString() : pdfs.first().absoluteFilePath());
                FUZZ_COMPROBAR(pdf.open(QIODevice::ReadOnly) && pdf.readAll() == spooler.recibido,
                               QStringLiteral("the spooler was given other bytes than the saved PDF"));
                QByteArray esperado;
                FUZZ_COMPROBAR(
                    DecodificarBase64(LeerTexto(*ParsearJSON(cuerpo), QStringLiteral("base64")).toUtf8(), esperado) &&
                        esperado == spooler.recibido,
                    QStringLiteral("the spooler was given other bytes than the request's document"));
            }
            dados << respuesta.toUtf8();
            responder(respuesta);
        });
    };
    endpoints.csv = [&](const QByteArray& cuerpo) {
        const int inicios = lanzador.desligados;
        const QString respuesta = csv.RecibirCSV(cuerpo);
        const QJsonObject objeto = ObjetoJSON(respuesta, "POST /csv-base64");
        FUZZ_COMPROBAR(objeto.value(QStringLiteral("success")).isBool(),
                       QStringLiteral("CSV answer without success: ") + fuzz::Mostrar(respuesta));
        if (lanzador.desligados > inicios) {
            // Qendra is started only once the file is safely in the data folder.
            FUZZ_COMPROBAR(lanzador.argumentosDesligado == QStringList{QStringLiteral("-i")} &&
                               lanzador.programaDesligado == cfg.ProgramaQendra,
                           QStringLiteral("Qendra started with other arguments"));
            const std::optional<QJsonObject> pedido = ParsearJSON(cuerpo);
            FUZZ_COMPROBAR(pedido.has_value(), QStringLiteral("Qendra started for a body that is not JSON"));
            csvNombre = LeerTexto(*pedido, QStringLiteral("nombreArchivo"));
            if (csvNombre.isEmpty()) {
                csvNombre = QStringLiteral("archivo.csv");
            }
            FUZZ_COMPROBAR(NombreArchivoValido(csvNombre),
                           QStringLiteral("saved under a refused name: ") + fuzz::Mostrar(csvNombre));
            FUZZ_COMPROBAR(DecodificarBase64(LeerTexto(*pedido, QStringLiteral("base64")).toUtf8(), csvContenido),
                           QStringLiteral("Qendra started for content that is not Base64"));
            csvGuardado = true;
        }
        FUZZ_COMPROBAR(objeto.value(QStringLiteral("success")).toBool() == (csvGuardado && lanzador.inicia),
                       QStringLiteral("CSV answer says otherwise than what happened: ") + fuzz::Mostrar(respuesta));
        dados << respuesta.toUtf8();
        return respuesta;
    };
    const ManejadorSolicitudes manejador(cfg, endpoints, RelojMonotono());

    // Gather the bytes as a connection slot does.
    EnsambladorSolicitud ensamblador(op.limitePequeno ? qint64(64 + 16 * (datos[1] & 0x1F))
                                                      : EnsambladorSolicitud::kLimitePorDefecto);
    qsizetype entregados = 0;
    EnsambladorSolicitud::Estado resultado = EnsambladorSolicitud::Estado::Incompleta;
    // As the slot does: once the head is in, a reader for the body, fed as it arrives.
    std::unique_ptr<LectorBase64JSON> lector;
    bool lectorDecidido = false;
    // As the slot does: the origin judged as soon as the head is in. The gathering goes on regardless, so that the
    // judgement on the whole request can be held against it.
    bool juzgada = false;
    bool rechazadaEnCabecera = false;
    while (entregados < entrada.size() && resultado == EnsambladorSolicitud::Estado::Incompleta) {
        qsizetype pieza = corte.Siguiente();
        if (pieza == 0 || pieza > entrada.size() - entregados) {
            pieza = entrada.size() - entregados;
        }
        resultado = ensamblador.Agregar(entrada.sliced(entregados, pieza));
        if (resultado == EnsambladorSolicitud::Estado::Incompleta && ensamblador.PideContinuar()) {
            // The client waits for "100 Continue" only when its complete head asked for it.
            const QByteArray cabeza = ensamblador.Datos().first(ensamblador.Datos().indexOf("\r\n\r\n"));
            FUZZ_COMPROBAR(cabeza.toLower().contains("100-continue"),
                           QStringLiteral("asks for 100 Continue: ") + fuzz::Mostrar(cabeza));
        }
        if (resultado != EnsambladorSolicitud::Estado::DemasiadoGrande) {
            entregados += pieza;
            FUZZ_COMPROBAR(ensamblador.Datos() == entrada.first(entregados),
                           QStringLiteral("the gathered bytes are not what arrived"));
        }
        if (resultado != EnsambladorSolicitud::Estado::DemasiadoGrande && !juzgada && ensamblador.CabeceraCompleta()) {
            juzgada = true;
            QByteArray enviada;
            rechazadaEnCabecera = manejador.RechazarAjeno(ensamblador.Cabecera(), [&](const QByteArray& r) {
                FUZZ_COMPROBAR(enviada.isEmpty(), QStringLiteral("two answers to a refused head"));
                enviada = r;
                return true;
            });
            FUZZ_COMPROBAR(rechazadaEnCabecera ? enviada == Respuesta403() : enviada.isEmpty(),
                           QStringLiteral("the head's judgement answered: ") + fuzz::Mostrar(enviada));
        }
        if (resultado == EnsambladorSolicitud::Estado::Incompleta && ensamblador.CabeceraCompleta()) {
            if (!lectorDecidido) {
                lectorDecidido = true;
                lector = manejador.LectorPara(ensamblador.Cabecera());
            }
            if (lector) {
                lector->Avanzar(ensamblador.Cuerpo());
            }
        }
    }
    {
        // How the bytes were cut must not matter.
        EnsambladorSolicitud deUnaVez(op.limitePequeno ? qint64(64 + 16 * (datos[1] & 0x1F))
                                                       : EnsambladorSolicitud::kLimitePorDefecto);
        const qsizetype hasta =
            resultado == EnsambladorSolicitud::Estado::DemasiadoGrande ? entrada.size() : entregados;
        const EnsambladorSolicitud::Estado otro = deUnaVez.Agregar(entrada.first(hasta));
        FUZZ_COMPROBAR(otro == resultado || (resultado == EnsambladorSolicitud::Estado::DemasiadoGrande &&
                                             otro == EnsambladorSolicitud::Estado::DemasiadoGrande),
                       QStringLiteral("gathering in pieces gave %1, at once %2").arg(int(resultado)).arg(int(otro)));
    }

    const qsizetype largoMaximo = 2048 + 6 * entrada.size();
    if (resultado == EnsambladorSolicitud::Estado::DemasiadoGrande) {
        ComprobarRespuesta(Respuesta413(), largoMaximo);
        return 0;
    }
    if (resultado == EnsambladorSolicitud::Estado::Incompleta && op.silencioAntesDelFin) {
        resultado = ensamblador.Silencio();
    }
    if (resultado == EnsambladorSolicitud::Estado::Incompleta) {
        resultado = ensamblador.FinDelPar();
    }
    if (resultado != EnsambladorSolicitud::Estado::Completa) {
        FUZZ_COMPROBAR(entrada.isEmpty(), QStringLiteral("bytes arrived but the peer's end did not hand them on"));
        return 0;
    }
    const QByteArray solicitud = ensamblador.TomarDatos();
    FUZZ_COMPROBAR(solicitud == entrada.first(entregados), QStringLiteral("the request is not the bytes that arrived"));
    FUZZ_COMPROBAR(ensamblador.Datos().isEmpty() && !ensamblador.CabeceraCompleta(),
                   QStringLiteral("the gatherer kept something after handing the request on"));

    int envios = 0;
    QByteArray respuesta;
    const bool conexionViva = (datos[1] & 0x40) == 0;
    manejador.Manejar(
        solicitud,
        [&](const QByteArray& r) {
            ++envios;
            FUZZ_COMPROBAR(envios == 1, QStringLiteral("a second answer for one request"));
            respuesta = r;
            return conexionViva;
        },
        std::move(lector));
    for (int vuelta = 0; vuelta < 100 && g_pendientes > 0; ++vuelta) {
        QCoreApplication::processEvents();
    }
    FUZZ_COMPROBAR(g_pendientes == 0, QStringLiteral("callbacks still pending after the event loop ran"));
    FUZZ_COMPROBAR(envios == 1, QStringLiteral("%1 answers for one request: ").arg(envios) + fuzz::Mostrar(solicitud));

    const QStringList log = fuzz::TomarLineasDelLog();
    FUZZ_COMPROBAR(!log.isEmpty() && log.first().contains(QLatin1String("] Solicitud recibida: ")),
                   QStringLiteral("the request was not logged first"));
    if (respuesta.isEmpty()) {
        // Only a request line that cannot be read goes without an answer, and it says why.
        FUZZ_COMPROBAR(log.size() == 2 && log.last().contains(QLatin1String("] ? Error: ")),
                       QStringLiteral("no answer and no error logged: ") + log.join(u'\n'));
    } else {
        ComprobarRespuesta(respuesta, largoMaximo + 16 * lista.nombres.join(QString()).toUtf8().size());
        if (juzgada) {
            FUZZ_COMPROBAR(rechazadaEnCabecera == respuesta.startsWith("HTTP/1.1 403 "),
                           QStringLiteral("the head was %1, the whole request answered: ")
                                   .arg(rechazadaEnCabecera ? QLatin1String("refused") : QLatin1String("admitted")) +
                               fuzz::Mostrar(respuesta) + QStringLiteral(" for ") + fuzz::Mostrar(solicitud));
        }
        if (respuesta.startsWith("HTTP/1.1 200 ")) {
            const QByteArray cuerpo = CuerpoDe(respuesta);
            FUZZ_COMPROBAR(dados.contains(cuerpo) || cuerpo == kRutaNoValida.toUtf8() ||
                               cuerpo == kMetodoORutaNoValida.toUtf8(),
                           QStringLiteral("a body no endpoint gave: ") + fuzz::Mostrar(cuerpo));
            // As the log shows it: cut and escaped.
            const QByteArray enviada = QByteArrayLiteral("] Respuesta enviada: ") +
                                       ParaLog(QString::fromUtf8(cuerpo), kLargoMaximoRespuestaEnLog).toUtf8();
            const bool registrada =
                std::any_of(log.begin(), log.end(), [&](const QString& l) { return l.toUtf8().endsWith(enviada); });
            FUZZ_COMPROBAR(registrada == conexionViva,
                           QStringLiteral("the answer was logged otherwise than it went: ") + log.join(u'\n'));
        }
    }

    // Nothing is written but the one print's PDF beside the program and the one CSV in the data folder.
    const QStringList enRaiz =
        QDir(raiz).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& nombre : enRaiz) {
        FUZZ_COMPROBAR(nombre == QLatin1String("datos") || nombre == QLatin1String("programa") ||
                           nombre == QLatin1String("logs"),
                       QStringLiteral("something was written into the temporary folder: ") + fuzz::Mostrar(nombre));
    }
    const QStringList enPrograma =
        QDir(carpetaPrograma).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    FUZZ_COMPROBAR(enPrograma.isEmpty() || enPrograma == QStringList{QStringLiteral("archivo_recibido_1.pdf")},
                   QStringLiteral("the program folder holds: ") + enPrograma.join(u' '));
    QDir datosDir(carpetaDatos);
    const QStringList enDatos =
        datosDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (csvGuardado) {
        FUZZ_COMPROBAR(enDatos == QStringList{csvNombre},
                       QStringLiteral("the data folder holds: ") + fuzz::Mostrar(enDatos.join(u'|')) +
                           QStringLiteral(" instead of ") + fuzz::Mostrar(csvNombre));
        QFile archivo(datosDir.filePath(csvNombre));
        FUZZ_COMPROBAR(archivo.open(QIODevice::ReadOnly) && archivo.readAll() == csvContenido,
                       QStringLiteral("the saved CSV is not the request's content"));
    } else {
        FUZZ_COMPROBAR(enDatos.isEmpty(),
                       QStringLiteral("the data folder holds: ") + fuzz::Mostrar(enDatos.join(u'|')));
    }
    for (const QString& nombre : enDatos) {
        datosDir.remove(nombre);
    }
    return 0;
}
