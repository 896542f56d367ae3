#include "printing/visor_lp.h"

#include "base/texto.h"

#include "base/lanzador.h"
#include "base/registro.h"
#include "printing/lista_impresoras.h"

#include <QDir>
#include <QRegularExpression>

namespace {

const QString kLp = QStringLiteral("lp");

// Single quotes unless every character is one a shell takes literally.
QString ParaShell(const QString& texto)
{
    bool simple = !texto.isEmpty();
    for (const QChar c : texto) {
        const bool seguro = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                            QStringView(u"_-.,/:=@%+").contains(c);
        if (!seguro) {
            simple = false;
            break;
        }
    }
    if (simple) {
        return texto;
    }
    QString citado = texto;
    citado.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + citado + u'\'';
}

// lp's error output as one log line.
QString EnUnaLinea(const QString& texto)
{
    QStringList lineas = texto.split(u'\n', Qt::SkipEmptyParts);
    for (QString& linea : lineas) {
        linea = linea.trimmed();
    }
    lineas.removeAll(QString());
    return lineas.join(QStringLiteral(" | "));
}

} // namespace

VisorLp::VisorLp(Lanzador& lanzador, const ListaImpresoras& impresoras)
    : m_lanzador(lanzador)
    , m_impresoras(impresoras)
{
}

VisorLp::VisorLp(Lanzador& lanzador, std::unique_ptr<ListaImpresoras> impresoras)
    : m_lanzador(lanzador)
    , m_propia(std::move(impresoras))
    , m_impresoras(*m_propia)
{
}

VisorLp::~VisorLp() = default;

QStringList VisorLp::Argumentos(const QString& impresora, const QStringList& instaladas,
                                const OpcionesImpresion& opciones)
{
    if (EsPredeterminada(impresora)) {
        return ArgumentosCups(opciones);
    }
    const qsizetype instalada = IndiceImpresora(instaladas, impresora);
    const QString destino = instalada >= 0 ? instaladas[instalada] : SinEspacios(impresora).toString();
    return QStringList{QStringLiteral("-d"), destino} + ArgumentosCups(opciones);
}

QString VisorLp::IdDeTrabajo(const QByteArray& salida)
{
    // The queue's name may hold dashes and digits itself: the id is the number after the last dash.
    static const QRegularExpression patron(QStringLiteral("request id is .*-(\\d+) \\("),
                                           QRegularExpression::CaseInsensitiveOption);
    return patron.match(QString::fromUtf8(salida)).captured(1);
}

QString VisorLp::LineaDeComando(const QString& rutaPDF, const QStringList& argumentos)
{
    QStringList partes{kLp};
    for (const QString& argumento : argumentos) {
        partes << ParaShell(argumento);
    }
    partes << QStringLiteral("<") << ParaShell(QDir::toNativeSeparators(rutaPDF));
    return partes.join(u' ');
}

void VisorLp::ImprimirPDF(const QString& rutaPDF, const QString& impresora, const QByteArray& contenido,
                          const OpcionesImpresion& opciones, AlIniciar alIniciar, AlEncolar alEncolar)
{
    const QString programa = m_lanzador.BuscarPrograma(kLp);
    if (programa.isEmpty()) {
        EscribirLog(QStringLiteral("? No se encontró lp en: ") + qEnvironmentVariable("PATH"));
        alIniciar(false);
        return;
    }
    const QStringList argumentos =
        Argumentos(impresora, EsPredeterminada(impresora) ? QStringList() : m_impresoras.Nombres(), opciones);
    const QString linea = LineaDeComando(rutaPDF, argumentos);
    const QString pdf = QDir::toNativeSeparators(rutaPDF);
    // lp's messages are translated; its job id is read in the C locale's words. UTF-8 keeps names as they are.
    m_lanzador.IniciarConEntradaYSalida(
        programa, argumentos, contenido, {QStringLiteral("LC_ALL=C.UTF-8")},
        [linea, pdf, alIniciar = std::move(alIniciar)](bool iniciado) {
            if (iniciado) {
                EscribirLog(QStringLiteral("? Impresión enviada con comando: ") + linea);
            } else {
                EscribirLog(QStringLiteral("? Error al intentar imprimir: ") + pdf);
            }
            alIniciar(iniciado);
        },
        [linea, alEncolar = std::move(alEncolar)](int codigo, bool normal, const QString& errores,
                                                  const QByteArray& salida) {
            QString fallo;
            if (!normal) {
                fallo = QStringLiteral("lp terminó de forma anormal");
                EscribirLog(QStringLiteral("? lp terminó de forma anormal | Comando: ") + linea);
            } else if (codigo != 0) {
                const QString motivo = EnUnaLinea(errores);
                EscribirLog(QStringLiteral("? lp terminó con código %1: %2 | Comando: %3")
                                .arg(QString::number(codigo), motivo, linea));
                fallo = motivo.isEmpty() ? QStringLiteral("lp terminó con código %1").arg(codigo) : motivo;
            }
            if (alEncolar) {
                alEncolar(fallo.isEmpty() ? IdDeTrabajo(salida) : QString(), fallo);
            }
        });
}
