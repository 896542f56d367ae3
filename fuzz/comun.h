#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What every fuzz target shares: one QCoreApplication, one temporary folder that stands for the program folder, and
// an installed log in it, so the targets go through the real log routine; its file is emptied as the lines are
// taken, so a long run does not fill the disk.
namespace fuzz {

// Idempotent; call it from LLVMFuzzerInitialize or at the top of LLVMFuzzerTestOneInput.
void Preparar();

// The temporary folder of this process (no closing separator).
QString CarpetaRaiz();

// The lines logged since the last call, in order; the list and the log file are emptied.
QStringList TomarLineasDelLog();

// Prints what went wrong and aborts, so libFuzzer keeps the input that led here.
[[noreturn]] void Fallar(const char* archivo, int linea, const char* condicion, const QString& detalle);

// A printable form of bytes for failure messages: at most `maximo` bytes, escaped.
QString Mostrar(const QByteArray& bytes, int maximo = 400);
QString Mostrar(const QString& texto, int maximo = 400);

} // namespace fuzz

#define FUZZ_COMPROBAR(condicion, detalle)                                                                             \
    do {                                                                                                               \
        if (!(condicion)) {                                                                                            \
            ::fuzz::Fallar(__FILE__, __LINE__, #condicion, (detalle));                                                 \
        }                                                                                                              \
    } while (false)
