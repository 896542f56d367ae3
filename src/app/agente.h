#pragma once

#include "http/estado.h"
#include "http/servidor.h"
#include "principal.h"
#include "settings/configuracion.h"
#include "settings/registro.h"

#include <QLockFile>
#include <QObject>

#include <memory>
#include <optional>

class Balanza;
class EntregaCSV;
class Lanzador;

// The composition root: brings the agent up in a fixed order and holds every part of it.
class Agente final : public QObject
{
    Q_OBJECT

public:
    explicit Agente(const QString& carpetaPrograma, QObject* parent = nullptr);
    ~Agente() override;

    // Runs the start-up. Returns the exit code when the process must end now, nothing when it goes on running.
    std::optional<int> Iniciar();

    const Configuracion& Config() const { return m_cfg; }
    Principal* Ventana() const { return m_ventana.get(); }
    ServidorWeb* Servidor() const { return m_servidor.get(); }
    Balanza* Bascula() const { return m_balanza.get(); }
    Registro& Log() { return m_registro; }

private:
    Endpoints CrearEndpoints();

    QString m_carpetaPrograma;
    Configuracion m_cfg;
    Registro m_registro;
    std::unique_ptr<QLockFile> m_instancia;
    std::unique_ptr<Principal> m_ventana;
    std::unique_ptr<DocumentoEstado> m_estado;
    std::unique_ptr<Lanzador> m_lanzador;
    std::unique_ptr<Balanza> m_balanza;
    std::unique_ptr<EntregaCSV> m_csv;
    std::unique_ptr<ServidorWeb> m_servidor;
};
