#pragma once

#include <QString>

// Turns a scale's raw reply into the weight text the web page receives, by the protocol's family (name in any
// case, first matching rule wins): KRETZ* -> characters 2 to 7 of the reply; SYSTEL* -> the reply's number / 1000
// as "0.000"; *100KG -> the number / 100 as "000.00"; anything else -> the reply without surrounding spaces.
// "ERR" when the reply's number does not fit a double. Pure; never depends on the system's number format.
QString InfoRecepcionBascula(const QString& datos, const QString& protocolo);

// The number at the start of `texto`: spaces, tabs and line feeds are skipped anywhere, then an optional sign,
// digits with at most one ".", and an optional exponent (E or e, optional sign, digits). Reading stops at the first
// character that cannot continue the number; no number gives 0. False when the value is too large for a double.
bool LeerNumeroInicial(const QString& texto, double& valor);

// Whether `texto` starts with a number by the rule above (skipped characters aside): a reply that does not is read
// as 0 without being one.
bool EmpiezaConNumero(const QString& texto);
