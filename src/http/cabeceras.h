#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <optional>
#include <type_traits>

// The one header scanner behind ValorCabecera, for the head as bytes (while it arrives) and as text (once decoded): the
// rest of the first line (lines end in CR LF) whose start equals `nombre` in any case, from just past the name; nothing
// when no line starts with it. Only the start of the line is compared, so callers decide what the next character may
// be.
namespace detalle {

template <typename Vista> std::optional<Vista> RestoDeLinea(Vista cabecera, Vista nombre)
{
    static_assert(std::is_same_v<Vista, QStringView> || std::is_same_v<Vista, QByteArrayView>);
    Vista finDeLinea;
    if constexpr (std::is_same_v<Vista, QStringView>) {
        finDeLinea = QStringView(u"\r\n");
    } else {
        finDeLinea = QByteArrayView("\r\n");
    }
    qsizetype inicio = 0;
    while (inicio <= cabecera.size()) {
        qsizetype fin = cabecera.indexOf(finDeLinea, inicio);
        if (fin < 0) {
            fin = cabecera.size();
        }
        const Vista linea = cabecera.sliced(inicio, fin - inicio);
        if (linea.size() >= nombre.size() && linea.first(nombre.size()).compare(nombre, Qt::CaseInsensitive) == 0) {
            return linea.sliced(nombre.size());
        }
        inicio = fin + 2;
    }
    return std::nullopt;
}

} // namespace detalle
