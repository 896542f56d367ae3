#pragma once

#include "printing/visor.h"

#include <QStringList>

#include <memory>

class ListaImpresoras;
class QObject;
class Spooler;

// CUPS takes the PDF itself: one Print-Job per print, the options as job attributes, the document handed over a
// piece per turn of the event loop. The program has started once CUPS has accepted the job and told its id, so a
// refused print is never taken for a started one.
class VisorCups final : public VisorPDF
{
public:
    // Both must outlive the viewer.
    explicit VisorCups(Spooler& spooler, const ListaImpresoras& impresoras);
    // With a spooler and a printer list of its own.
    explicit VisorCups(std::unique_ptr<Spooler> spooler, std::unique_ptr<ListaImpresoras> impresoras);
    ~VisorCups() override;

    using VisorPDF::ImprimirPDF;
    void ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                     const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar alEncolar) override;

    // The queue for a printer name: CUPS compares names case-insensitively only in ASCII and holds no spaces in
    // them, so a name becomes the installed printer's own name when they match the way the agent compares names
    // (" impresión " prints on Impresión), and otherwise loses the spaces around it.
    static QString Cola(const QString& impresora, const QStringList& instaladas);

private:
    struct Envio;
    void Abrir(const std::shared_ptr<Envio>& envio, const QString& cola, const QString& documento);
    // The job's end: CUPS's id, or empty and its reason.
    void Concluir(const std::shared_ptr<Envio>& envio, const QString& id, const QString& motivo);

    std::unique_ptr<Spooler> m_spoolerPropio;
    std::unique_ptr<ListaImpresoras> m_propia;
    Spooler& m_spooler;
    const ListaImpresoras& m_impresoras;
    // The jobs still open go with the viewer.
    std::shared_ptr<QObject> m_contexto;
};
