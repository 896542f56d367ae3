#include "printing/visor_cups.h"

#include "base/registro.h"
#include "base/texto.h"
#include "printing/alimentador.h"
#include "printing/lista_impresoras.h"
#include "printing/spooler.h"

#include <QFileInfo>
#include <QObject>

struct VisorCups::Envio
{
    QString cola;
    QString destino; // as logged: the queue, or the name asked for when there is none
    QStringList atributos;
    QByteArray datos;
    AlIniciar alIniciar;
    AlEncolar alEncolar;
};

VisorCups::VisorCups(Spooler& spooler, const ListaImpresoras& impresoras)
    : m_spooler(spooler)
    , m_impresoras(impresoras)
    , m_contexto(std::make_shared<QObject>())
{
}

VisorCups::VisorCups(std::unique_ptr<Spooler> spooler, std::unique_ptr<ListaImpresoras> impresoras)
    : m_spoolerPropio(std::move(spooler))
    , m_propia(std::move(impresoras))
    , m_spooler(*m_spoolerPropio)
    , m_impresoras(*m_propia)
    , m_contexto(std::make_shared<QObject>())
{
}

VisorCups::~VisorCups() = default;

QString VisorCups::Cola(const QString& impresora, const QStringList& instaladas)
{
    const qsizetype instalada = IndiceImpresora(instaladas, impresora);
    return instalada >= 0 ? instaladas[instalada] : SinEspacios(impresora).toString();
}

void VisorCups::ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                            const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar alEncolar)
{
    auto e = std::make_shared<Envio>();
    e->destino = impresora;
    e->atributos = AtributosCups(opciones);
    e->datos = contenido;
    e->alIniciar = std::move(alIniciar);
    e->alEncolar = std::move(alEncolar);
    // The queue shows the job by the saved file's name, as it would a file handed to lp.
    const QString documento = QFileInfo(rutaPDF).fileName();
    const std::weak_ptr<QObject> vivo = m_contexto;
    if (!EsPredeterminada(impresora)) {
        m_spooler.Impresoras([this, e, documento, impresora, vivo](const std::optional<QStringList>& nombres) {
            if (!vivo.expired()) {
                Abrir(e, Cola(impresora, nombres ? *nombres : m_impresoras.Nombres()), documento);
            }
        });
        return;
    }
    m_spooler.Predeterminada([this, e, documento, vivo](const QString& cola) {
        if (!vivo.expired()) {
            Abrir(e, cola, documento);
        }
    });
}

void VisorCups::Abrir(const std::shared_ptr<Envio>& e, const QString& cola, const QString& documento)
{
    e->cola = cola;
    if (!cola.isEmpty()) {
        e->destino = cola;
    }
    QString motivo = QStringLiteral("no hay impresora predeterminada");
    std::unique_ptr<EnvioDirecto> envio;
    if (!cola.isEmpty()) {
        envio = m_spooler.AbrirPDF(cola, documento, e->atributos, motivo);
    }
    if (!envio) {
        Concluir(e, QString(), motivo);
        return;
    }
    // Dropped with the viewer, the job is withdrawn.
    Alimentador::Alimentar(
        std::move(envio), std::exchange(e->datos, {}),
        [this, e](const QString& id, const QString& fallo) { Concluir(e, id, fallo); }, m_contexto.get());
}

void VisorCups::Concluir(const std::shared_ptr<Envio>& e, const QString& id, const QString& motivo)
{
    e->datos.clear();
    if (id.isEmpty()) {
        EscribirLog(QStringLiteral("? CUPS no aceptó la impresión en %1: %2").arg(ParaLog(e->destino), motivo));
        e->alIniciar(false);
        return;
    }
    EscribirLog(QStringLiteral("? Impresión enviada a CUPS: cola %1, trabajo %2, %3")
                    .arg(ParaLog(e->cola), id, e->atributos.join(u' ')));
    e->alIniciar(true);
    if (e->alEncolar) {
        e->alEncolar(id, QString());
    }
}
