#pragma once

#include <cstdint>
#include <string>

// The N-th field (from 1) of text split at separator. Separators never belong
// to a field, two in a row enclose an empty field, and N <= 0 or N beyond the
// last field gives "". NthField("HTTP/1.0 200 OK", ' ', 2) is "200".
std::string NthField(const std::string& text, char separator, int32_t n);
