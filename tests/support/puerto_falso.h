#pragma once

#include "scale/puerto_serie.h"

#include <QList>

#include <functional>

// A scriptable serial port: records what the scale link does to it and lets a test play the scale.
class PuertoFalso final : public PuertoSerie
{
    Q_OBJECT

public:
    struct Apertura
    {
        qint16 numero;
        AjustesLinea ajustes;
    };

    explicit PuertoFalso(QObject* parent = nullptr)
        : PuertoSerie(parent)
    {
    }

    bool Abrir(qint16 numero, const AjustesLinea& ajustes, QString& error) override
    {
        m_abierto = false;
        aperturas.append({numero, ajustes});
        if (!errorAlAbrir.isEmpty()) {
            error = errorAlAbrir;
            return false;
        }
        m_abierto = true;
        return true;
    }

    bool Cerrar(QString& error) override
    {
        ++cierres;
        m_abierto = false;
        if (!errorAlCerrar.isEmpty()) {
            error = errorAlCerrar;
            return false;
        }
        return true;
    }

    bool EstaAbierto() const override { return m_abierto; }

    bool Escribir(const QByteArray& datos, QString& error) override
    {
        if (!m_abierto) {
            error = QStringLiteral("puerto cerrado");
            return false;
        }
        if (!errorAlEscribir.isEmpty()) {
            error = errorAlEscribir;
            return false;
        }
        escrito.append(datos);
        if (alEscribir) {
            alEscribir(datos);
        }
        return true;
    }

    QByteArray Tomar(qint64 maximo) override
    {
        const QByteArray trozo = m_recibido.left(maximo);
        m_recibido.remove(0, trozo.size());
        return trozo;
    }

    void Descartar() override
    {
        ++descartes;
        m_recibido.clear();
    }

    // The scale sends `datos`: they wait in the port and the link hears of them, as from a real driver.
    void Llegar(const QByteArray& datos)
    {
        if (!m_abierto) {
            return;
        }
        m_recibido += datos;
        emit datosRecibidos();
    }

    void FallarDispositivo(const QString& descripcion) { emit errorDispositivo(descripcion); }

    QByteArray Pendiente() const { return m_recibido; }

    QString errorAlAbrir;
    QString errorAlCerrar;
    QString errorAlEscribir;
    std::function<void(const QByteArray&)> alEscribir;

    QList<Apertura> aperturas;
    QList<QByteArray> escrito;
    int cierres = 0;
    int descartes = 0;

private:
    bool m_abierto = false;
    QByteArray m_recibido;
};
