#include "printing/impresion.h"

#include "base/archivos.h"
#include "base/json.h"
#include "base/lector_base64_json.h"
#include "base/registro.h"
#include "base/texto.h"
#include "printing/alimentador.h"
#include "printing/lista_impresoras.h"
#include "printing/opciones.h"
#include "printing/spooler.h"
#include "printing/trabajos.h"
#include "printing/visor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

namespace {

// A viewer reads its file within seconds of starting; a print's file is removed well after that.
constexpr qint64 kVidaPDF = 10 * 60 * 1000;

const QRegularExpression& PatronRecibido()
{
    static const QRegularExpression patron(QStringLiteral("^archivo_recibido(_\\d+)?\\.pdf$"));
    return patron;
}

const QString kNoGuardado = QStringLiteral("{\"success\":false,\"error\":\"No se pudo guardar PDF\"}");
const QString kNoImpreso = QStringLiteral("{\"success\":false,\"error\":\"No se pudo imprimir\"}");
const QString kDatosInvalidos = QStringLiteral("{\"success\":false,\"error\":\"Datos de impresión inválidos\"}");

QString Exito(const QString& nombre, const QString& trabajo)
{
    return QStringLiteral("{\"success\":true,\"impresora\":\"") + EscaparJSON(nombre) +
           QStringLiteral("\",\"trabajo\":\"") + trabajo + QStringLiteral("\"}");
}

QString ListaJSON(const QStringList& textos)
{
    QString json = QStringLiteral("[");
    for (const QString& texto : textos) {
        if (json.size() > 1) {
            json += u',';
        }
        json += u'"' + EscaparJSON(texto) + u'"';
    }
    return json + u']';
}

const QString& Booleano(bool valor)
{
    static const QString si = QStringLiteral("true");
    static const QString no = QStringLiteral("false");
    return valor ? si : no;
}

} // namespace

struct Impresion::Pedido
{
    QString nombre; // as received
    QString cola;
    QJsonObject objeto;
    std::unique_ptr<LectorBase64JSON> lector;
    Responder responder;
};

struct Impresion::Directo
{
    QString nombre; // as received
    QString cola;
    QByteArray datos;
    Responder responder;
};

Impresion::Impresion(const QString& carpetaPrograma, const ListaImpresoras& impresoras, std::unique_ptr<VisorPDF> visor,
                     Reloj reloj, std::unique_ptr<Spooler> spooler)
    : m_carpeta(QDir::fromNativeSeparators(carpetaPrograma))
    , m_reloj(std::move(reloj))
    , m_impresoras(impresoras)
    , m_visor(std::move(visor))
    , m_spooler(std::move(spooler))
    , m_trabajos(std::make_shared<TablaTrabajos>(m_spooler.get(), m_reloj))
    , m_contexto(std::make_unique<QObject>())
{
    // No viewer of an earlier run still reads its file by now; one that does keeps it (removal fails) and its
    // number is skipped.
    const QDir carpeta(m_carpeta);
    for (const QString& nombre : carpeta.entryList(QDir::Files | QDir::System)) {
        if (PatronRecibido().match(nombre).hasMatch()) {
            QFile::remove(carpeta.filePath(nombre));
        }
    }
}

QString Impresion::NuevoPDF(const QByteArray& contenido, QString& motivo)
{
    RetirarTerminados();
    // A name still taken (a file a viewer held on to, or another agent's) is passed over, never replaced.
    for (int intento = 0; intento < 1000; ++intento) {
        const QString ruta = m_carpeta + QStringLiteral("/archivo_recibido_%1.pdf").arg(++m_numero);
        if (QFileInfo::exists(ruta) || QFileInfo(ruta).isSymLink()) {
            continue;
        }
        if (!EscribirArchivoNuevo(contenido, ruta, &motivo)) {
            return QString();
        }
        m_guardados.append({ruta, m_reloj()});
        return ruta;
    }
    return QString();
}

void Impresion::RetirarTerminados()
{
    const qint64 ahora = m_reloj();
    m_guardados.removeIf([ahora](const Guardado& g) {
        return ahora - g.ms >= kVidaPDF && (QFile::remove(g.ruta) || !QFileInfo::exists(g.ruta));
    });
}

Impresion::~Impresion() = default;

QString Impresion::ListarImpresoras() const
{
    return CatalogoImpresoras(m_impresoras.Nombres());
}

void Impresion::Imprimir(QByteArray cuerpo, std::unique_ptr<LectorBase64JSON> lector, Responder responder)
{
    // A PDF of megabytes is decoded as it arrives when the caller fed a reader; otherwise it is read here. Each
    // form of the document is let go as soon as the next exists, so the body is never held many times over.
    if (!lector) {
        lector = std::make_unique<LectorBase64JSON>(QByteArrayLiteral("base64"));
    }
    std::optional<QJsonObject> objeto = lector->Terminar(std::move(cuerpo));
    if (!objeto) {
        EscribirLog(QStringLiteral("? JSON inválido recibido en /print-base64"));
        responder(kRespuestaJsonInvalido);
        return;
    }
    auto pedido = std::make_shared<Pedido>();
    pedido->nombre = LeerTexto(*objeto, QStringLiteral("nombreImpresora"));
    pedido->objeto = std::move(*objeto);
    objeto.reset();
    pedido->lector = std::move(lector);
    pedido->responder = std::move(responder);
    // The exact keyword needs no printer at all; any other name must be installed. One reading of the list serves
    // both the check and the catalogue of the refusal.
    if (pedido->nombre == kPredeterminada) {
        Comprobada(pedido, QStringList());
        return;
    }
    LeerImpresoras([this, pedido](const QStringList& instaladas) {
        if (!ExisteImpresoraEn(instaladas, pedido->nombre)) {
            Desconocida(pedido->nombre, instaladas, pedido->responder);
            return;
        }
        Comprobada(pedido, instaladas);
    });
}

void Impresion::LeerImpresoras(std::function<void(const QStringList&)> alLeer)
{
    if (!m_spooler) {
        alLeer(m_impresoras.Nombres());
        return;
    }
    m_spooler->Impresoras([this, alLeer = std::move(alLeer)](const std::optional<QStringList>& nombres) {
        alLeer(nombres ? *nombres : m_impresoras.Nombres());
    });
}

void Impresion::Desconocida(const QString& nombre, const QStringList& instaladas, const Responder& responder)
{
    EscribirLog(QStringLiteral("? Impresora no encontrada: ") + ParaLog(nombre));
    responder(QStringLiteral("{\"success\":false,\"error\":\"Impresora no encontrada: ") + EscaparJSON(nombre) +
              QStringLiteral("\",\"impresorasDisponibles\":") + CatalogoImpresoras(instaladas) + u'}');
}

void Impresion::Comprobada(const std::shared_ptr<Pedido>& pedido, const QStringList& instaladas)
{
    // The printer's papers and trays are asked of the spooler only when the request names one.
    const bool conDetalle =
        pedido->objeto.contains(QStringLiteral("papel")) || pedido->objeto.contains(QStringLiteral("bandeja"));
    Cola(pedido->nombre, instaladas, [this, pedido, conDetalle](const QString& cola) {
        pedido->cola = cola;
        if (!conDetalle || !m_spooler || cola.isEmpty()) {
            ImprimirEn(pedido, std::nullopt);
            return;
        }
        m_spooler->Detalle(
            cola, [this, pedido](const std::optional<DetalleImpresora>& detalle) { ImprimirEn(pedido, detalle); });
    });
}

void Impresion::ImprimirEn(const std::shared_ptr<Pedido>& p, const std::optional<DetalleImpresora>& detalle)
{
    const QString nombre = p->nombre;
    Responder responder = std::move(p->responder);
    OpcionesImpresion opciones;
    if (const auto invalida = LeerOpciones(p->objeto, detalle ? &*detalle : nullptr, opciones)) {
        EscribirLog(QStringLiteral("? Opción de impresión inválida: ") + invalida->miembro + QStringLiteral(" = ") +
                    ParaLog(invalida->valor));
        responder(QStringLiteral("{\"success\":false,\"error\":\"Opción de impresión inválida: ") + invalida->miembro +
                  QStringLiteral("\"}"));
        return;
    }

    QByteArray contenido;
    const bool decodificado = p->lector->TomarBase64(p->objeto, contenido);
    p->objeto = QJsonObject();
    p->lector.reset();
    QString motivo;
    const QString ruta = decodificado ? NuevoPDF(contenido, motivo) : QString();
    if (ruta.isEmpty()) {
        if (!motivo.isEmpty()) {
            EscribirLog(QStringLiteral("? ") + motivo);
        }
        EscribirLog(QStringLiteral("? Error al guardar PDF"));
        responder(kNoGuardado);
        return;
    }
    EscribirLog(QStringLiteral("PDF guardado: ") + QDir::toNativeSeparators(ruta));

    const QString cola = p->cola;
    const QString documento = m_visor->BuscaPorDocumento() ? QFileInfo(ruta).fileName() : QString();
    // The job is known from the moment the program starts; the spooler's id of it may come later.
    auto id = std::make_shared<QString>();
    const std::weak_ptr<TablaTrabajos> trabajos = m_trabajos;
    m_visor->ImprimirPDF(
        ruta, nombre, contenido, opciones,
        [nombre, cola, documento, id, trabajos, responder = std::move(responder)](bool iniciado) {
            if (iniciado) {
                if (const auto tabla = trabajos.lock()) {
                    *id = tabla->Agregar(nombre, cola, QString(), documento);
                }
                EscribirLog(QStringLiteral("?? Impreso en: ") + ParaLog(nombre));
                responder(Exito(nombre, *id));
            } else {
                EscribirLog(QStringLiteral("? Error al imprimir en: ") + ParaLog(nombre));
                responder(kNoImpreso);
            }
        },
        [id, trabajos](const QString& idSpooler, const QString& fallo) {
            if (const auto tabla = trabajos.lock(); tabla && !id->isEmpty()) {
                tabla->Encolado(*id, idSpooler, fallo);
            }
        });
}

void Impresion::Cola(const QString& nombre, const QStringList& instaladas, std::function<void(const QString&)> alSaber)
{
    if (EsPredeterminada(nombre)) {
        if (m_spooler) {
            m_spooler->Predeterminada(std::move(alSaber));
        } else {
            alSaber(QString());
        }
        return;
    }
    const qsizetype indice = IndiceImpresora(instaladas, nombre);
    alSaber(indice >= 0 ? instaladas[indice] : QString());
}

void Impresion::ImprimirDirecto(QByteArray cuerpo, Responder responder)
{
    const std::optional<QJsonObject> objeto = ParsearJSON(cuerpo);
    cuerpo.clear();
    if (!objeto) {
        EscribirLog(QStringLiteral("? JSON inválido recibido en /print-raw"));
        responder(kRespuestaJsonInvalido);
        return;
    }
    LeerImpresoras([this, objeto = *objeto, responder = std::move(responder)](const QStringList& instaladas) {
        const QString nombre = LeerTexto(objeto, QStringLiteral("nombreImpresora"));
        if (nombre != kPredeterminada && !ExisteImpresoraEn(instaladas, nombre)) {
            Desconocida(nombre, instaladas, responder);
            return;
        }
        auto directo = std::make_shared<Directo>();
        if (!DecodificarBase64(LeerTexto(objeto, QStringLiteral("base64")).toLatin1(), directo->datos) ||
            directo->datos.isEmpty()) {
            EscribirLog(QStringLiteral("? Datos de impresión inválidos para: ") + ParaLog(nombre));
            responder(kDatosInvalidos);
            return;
        }
        directo->nombre = nombre;
        directo->responder = responder;
        QString titulo = LeerTexto(objeto, QStringLiteral("nombreTrabajo"));
        if (titulo.isEmpty()) {
            titulo = QStringLiteral("Plugin Tornavo");
        }
        Cola(nombre, instaladas, [this, directo, titulo](const QString& cola) {
            directo->cola = cola;
            AbrirDirecto(directo, titulo);
        });
    });
}

void Impresion::AbrirDirecto(const std::shared_ptr<Directo>& directo, const QString& titulo)
{
    QString motivo;
    std::unique_ptr<EnvioDirecto> envio;
    if (!m_spooler) {
        motivo = QStringLiteral("no hay acceso al spooler");
    } else if (directo->cola.isEmpty()) {
        motivo = QStringLiteral("no hay impresora predeterminada");
    } else {
        envio = m_spooler->AbrirDirecto(directo->cola, titulo, motivo);
    }
    if (!envio) {
        Concluir(directo, QString(), motivo);
        return;
    }
    // Dropped with this object, the job is withdrawn.
    Alimentador::Alimentar(
        std::move(envio), directo->datos,
        [this, directo](const QString& idSpooler, const QString& fallo) { Concluir(directo, idSpooler, fallo); },
        m_contexto.get());
}

void Impresion::Concluir(const std::shared_ptr<Directo>& d, const QString& idSpooler, const QString& motivo)
{
    const QString bytes = QString::number(d->datos.size());
    d->datos.clear();
    if (idSpooler.isEmpty()) {
        EscribirLog(QStringLiteral("? Error al imprimir en: %1 (%2 bytes): %3").arg(ParaLog(d->nombre), bytes, motivo));
        d->responder(kNoImpreso);
        return;
    }
    const QString id = m_trabajos->Agregar(d->nombre, d->cola, idSpooler);
    EscribirLog(QStringLiteral("?? Impresión directa en: %1 (%2 bytes)").arg(ParaLog(d->nombre), bytes));
    d->responder(Exito(d->nombre, id));
}

void Impresion::ConsultarTrabajo(const QString& id, Responder responder)
{
    m_trabajos->Consultar(id, std::move(responder));
}

// Every printer is asked at once; the answer goes when the last has answered.
struct Impresion::Reunion
{
    QStringList nombres;
    QList<DetalleImpresora> detalles;
    QString predeterminada;
    qsizetype faltan = 0;
    Responder responder;
};

void Impresion::DetalleImpresoras(Responder responder)
{
    auto r = std::make_shared<Reunion>();
    r->responder = std::move(responder);
    LeerImpresoras([this, r](const QStringList& nombres) {
        r->nombres = nombres;
        r->detalles.resize(nombres.size());
        r->faltan = nombres.size() + 1;
        Reunir(r);
    });
}

void Impresion::Reunir(const std::shared_ptr<Reunion>& r)
{
    const auto reunido = [r] {
        if (--r->faltan > 0) {
            return;
        }
        QString json = QStringLiteral("{\"impresoras\":[");
        for (qsizetype i = 0; i < r->nombres.size(); ++i) {
            const QString& nombre = r->nombres[i];
            const DetalleImpresora& d = r->detalles[i];
            json += (i == 0 ? QString() : QStringLiteral(",")) + QStringLiteral("{\"nombre\":\"") +
                    EscaparJSON(nombre) + QStringLiteral("\",\"predeterminada\":") +
                    Booleano(nombre == r->predeterminada) + QStringLiteral(",\"estado\":\"") + d.estado +
                    QStringLiteral("\",\"motivo\":\"") + EscaparJSON(d.motivo) + QStringLiteral("\",\"papeles\":") +
                    ListaJSON(d.papeles) + QStringLiteral(",\"bandejas\":") + ListaJSON(d.bandejas) +
                    QStringLiteral(",\"duplex\":") + Booleano(d.duplex) + QStringLiteral(",\"color\":") +
                    Booleano(d.color) + u'}';
        }
        const Responder responder = std::move(r->responder);
        responder(json + QStringLiteral("]}"));
    };
    if (!m_spooler) {
        r->faltan = 1;
        reunido();
        return;
    }
    m_spooler->Predeterminada([r, reunido](const QString& nombre) {
        r->predeterminada = nombre;
        reunido();
    });
    for (qsizetype i = 0; i < r->nombres.size(); ++i) {
        m_spooler->Detalle(r->nombres[i], [r, i, reunido](const std::optional<DetalleImpresora>& d) {
            r->detalles[i] = d.value_or(DetalleImpresora());
            reunido();
        });
    }
}
