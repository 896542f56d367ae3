#include "base/memoria.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void PreferirPaginasGrandes(const char* datos, qsizetype largo)
{
#ifdef MADV_HUGEPAGE
    constexpr qsizetype kPaginaGrande = 2 * 1024 * 1024;
    if (datos == nullptr || largo < 2 * kPaginaGrande) {
        return;
    }
    // A buffer this large is a mapping of its own: the whole of it, from the page holding the allocator's header to
    // the end of its last page, so the mapping stays in one piece and can still grow in place.
    const auto pagina = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto inicio = reinterpret_cast<std::uintptr_t>(datos) & ~(pagina - 1);
    const auto fin =
        (reinterpret_cast<std::uintptr_t>(datos) + static_cast<std::uintptr_t>(largo) + pagina - 1) & ~(pagina - 1);
    // Refused where transparent huge pages are off: the buffer then simply keeps small pages.
    ::madvise(reinterpret_cast<void*>(inicio), fin - inicio, MADV_HUGEPAGE);
#else
    // A system without transparent huge pages: the buffer keeps small pages.
    Q_UNUSED(datos);
    Q_UNUSED(largo);
#endif
}
