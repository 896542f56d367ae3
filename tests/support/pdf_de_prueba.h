#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

namespace soporte {

// A one-page PDF showing `texto` (letters, digits and spaces), written by hand with a correct cross-reference
// table. With `relleno` it carries that many extra pseudo-random bytes in an unused stream, to make big documents
// that still differ from one another.
inline QByteArray PdfDePrueba(const QByteArray& texto, qsizetype relleno = 0, quint32 semilla = 1)
{
    QByteArray pdf("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    QList<qsizetype> posiciones;
    const auto objeto = [&](const QByteArray& cuerpo) {
        posiciones << pdf.size();
        pdf += QByteArray::number(posiciones.size()) + " 0 obj\n" + cuerpo + "\nendobj\n";
    };
    const QByteArray contenido = "BT /F1 24 Tf 72 720 Td (" + texto + ") Tj ET";
    objeto("<< /Type /Catalog /Pages 2 0 R >>");
    objeto("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    objeto("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> "
           "/Contents 4 0 R >>");
    objeto("<< /Length " + QByteArray::number(contenido.size()) + " >>\nstream\n" + contenido + "\nendstream");
    objeto("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    if (relleno > 0) {
        QByteArray bytes(relleno, Qt::Uninitialized);
        QRandomGenerator generador(semilla);
        for (qsizetype i = 0; i < relleno; ++i) {
            bytes[i] = static_cast<char>(generador.bounded(256));
        }
        objeto("<< /Length " + QByteArray::number(relleno) + " >>\nstream\n" + bytes + "\nendstream");
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(posiciones.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype posicion : posiciones) {
        pdf += QByteArray::number(posicion).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(posiciones.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace soporte
