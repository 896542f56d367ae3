#pragma once

#include <QtGlobal>

// Asks the system to back a large buffer about to be filled (a request body, a decoded document) with huge pages
// where it can: writing megabytes into fresh memory otherwise costs one page fault per 4 KiB, which is most of the
// time a large print takes. A hint only; each platform has its own memoria_*.cpp, and small buffers are left alone.
void PreferirPaginasGrandes(const char* datos, qsizetype largo);
