#include "net/NthField.h"

std::string NthField(const std::string& text, char separator, int32_t n) {
    std::string field;
    int32_t count = 0;
    for (char c : text) {
        if (c == separator) {
            if (++count == n)
                break;
        } else if (count == n - 1) {
            field += c;
        }
    }
    return field;
}
