#pragma once

#include <QString>

#include <functional>

// How an answer that may come later reaches whoever waits for it: called once, with the answer's body. Endpoints,
// printing and the scale all take one; the HTTP layer turns the body into the bytes a connection sends.
using Responder = std::function<void(const QString& cuerpo)>;
