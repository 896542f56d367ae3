#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Bytes from the wire or from config.ini: UTF-8 when they are valid UTF-8, otherwise Windows-1252 byte for byte.
QString DecodificarTexto(const QByteArray& bytes);

// Windows-1252 decoding, byte for byte (bytes the code page leaves undefined map to the same code point).
QString DecodificarWindows1252(const QByteArray& bytes);

// The text without the characters of `blancos` at both ends: by default spaces only (U+0020; tabs and other
// blanks stay).
QStringView SinEspacios(QStringView texto, QStringView blancos = u" ");

// Text as JSON string content: backslash, quote and control characters escaped, everything else as it is.
QString EscaparJSON(const QString& texto);

// Text received from outside as it may go into one log line: every character that could end the line or
// restyle a terminal (C0 and C1 controls, DEL, the line and paragraph separators) written as \uXXXX.
QString EscaparParaLog(const QString& texto);

// The text as it is when it has at most `maximo` characters; otherwise its first `maximo` characters followed by
// "… (N caracteres más)". Keeps a hostile request from writing megabytes into a log line.
QString Recortar(const QString& texto, qsizetype maximo);

// Longest value received from outside (a request line, a header, a name) written to one log line.
inline constexpr qsizetype kLargoMaximoEnLog = 2048;

// A value received from outside as it goes into a log line: cut to `maximo` characters, then escaped.
QString ParaLog(const QString& texto, qsizetype maximo = kLargoMaximoEnLog);
