#pragma once

#include "base/lanzador.h"

#include <QHash>
#include <QList>

namespace soporte {

// Records every start and answers as told. Starts with input can be answered at once or left pending, so a test
// can see what happens before and after the program starts and ends.
class LanzadorFalso final : public Lanzador
{
public:
    struct Llamada
    {
        QString programa;
        QStringList argumentos;
        QString carpeta;
        QByteArray entrada;
        bool desligado = false;
    };

    QHash<QString, QString> enRuta; // name -> full path; a name not here is not found
    bool inicia = true;
    int codigoFallo = 2;
    bool diferir = false; // keep the callbacks of IniciarConEntrada in `pendientes` instead of answering at once

    QList<Llamada> llamadas;
    struct Pendiente
    {
        AlIniciar alIniciar;
        AlTerminar alTerminar;
    };
    QList<Pendiente> pendientes;

    QString BuscarPrograma(const QString& nombre) const override { return enRuta.value(nombre); }

    bool IniciarDesligado(const QString& programa, const QStringList& argumentos, const QString& carpeta,
                          int& codigo) override
    {
        llamadas.append({programa, argumentos, carpeta, {}, true});
        if (!inicia) {
            codigo = codigoFallo;
        }
        return inicia;
    }

    void IniciarConEntrada(const QString& programa, const QStringList& argumentos, const QByteArray& entrada,
                           AlIniciar alIniciar, AlTerminar alTerminar) override
    {
        llamadas.append({programa, argumentos, {}, entrada, false});
        if (diferir) {
            pendientes.append({std::move(alIniciar), std::move(alTerminar)});
            return;
        }
        alIniciar(inicia);
        if (inicia && alTerminar) {
            alTerminar(0, true, QString());
        }
    }
};

} // namespace soporte
