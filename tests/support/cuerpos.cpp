#include "support/cuerpos.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace soporte {

namespace {

QByteArray CuerpoBase64(const QByteArray& datos, const QString& campoNombre, const QString& nombre)
{
    const QJsonObject objeto{{QStringLiteral("base64"), QString::fromLatin1(datos.toBase64())}, {campoNombre, nombre}};
    return QJsonDocument(objeto).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray CuerpoImpresion(const QByteArray& pdf, const QString& impresora, const QByteArray& opciones)
{
    QByteArray cuerpo = CuerpoBase64(pdf, QStringLiteral("nombreImpresora"), impresora);
    if (!opciones.isEmpty()) {
        cuerpo.insert(cuerpo.size() - 1, "," + opciones);
    }
    return cuerpo;
}

QByteArray CuerpoCsv(const QByteArray& csv, const QString& nombre)
{
    return CuerpoBase64(csv, QStringLiteral("nombreArchivo"), nombre);
}

void FilasJsonInvalido(const QString& campoNombre)
{
    QTest::addColumn<QString>("cuerpo");
    QTest::newRow("vacío") << QString();
    QTest::newRow("número") << QStringLiteral("42");
    QTest::newRow("texto") << QStringLiteral("\"QUJD\"");
    QTest::newRow("true") << QStringLiteral("true");
    QTest::newRow("false") << QStringLiteral("false");
    QTest::newRow("null") << QStringLiteral("null");
    QTest::newRow("truncado") << QStringLiteral("{\"base64\":\"QUJD\",\"%1\":\"a.cs").arg(campoNombre);
    QTest::newRow("error de sintaxis") << QStringLiteral("{\"base64\":\"QUJD\" \"%1\":\"Caja\"}").arg(campoNombre);
}

} // namespace soporte
