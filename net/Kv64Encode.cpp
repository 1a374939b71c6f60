#include "net/Kv64Encode.h"

#include "net/KvFileBuffer.h"
#include "toolkit/runtime/TStream.h"

#include <string>

namespace {

constexpr int kBytesPerLine = 45;
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char Base64Char(unsigned value) {
    return kBase64Alphabet[value & 63];
}

char UUChar(unsigned value) {
    value &= 63;
    return value == 0 ? '`' : static_cast<char>(value + 32);
}

// Feeds the input through a read-ahead window, up to 45 bytes at a time, to
// the line writer; the last call gets fewer bytes (possibly none).
template <typename LineWriter> void ForEachLine(TStream& input, LineWriter writeLine) {
    TKvFileBuffer window(input);
    const char* p = window.Start();
    const char* e = window.End();
    unsigned char line[kBytesPerLine];
    for (;;) {
        int n = 0;
        bool more = true;
        while (n < kBytesPerLine) {
            if (p >= e) {
                if (!window.FillWindow(p, 0)) {
                    more = false;
                    break;
                }
                p = window.Start();
                e = window.End();
            }
            line[n++] = static_cast<unsigned char>(*p++);
        }
        writeLine(line, n, n == kBytesPerLine);
        if (!more)
            return;
    }
}

// The four 6-bit values of a group of three bytes.
template <typename CharOf>
void AppendGroup(std::string& text, unsigned b0, unsigned b1, unsigned b2, CharOf charOf) {
    text += charOf(b0 >> 2);
    text += charOf(((b0 & 3) << 4) | (b1 >> 4));
    text += charOf(((b1 & 15) << 2) | (b2 >> 6));
    text += charOf(b2 & 63);
}

void WriteText(TStream& output, const std::string& text) {
    output.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

} // namespace

bool EncodeBase64(TStream& input, TStream& output) {
    output.Seek(0, TSeekOrigin::soEnd);
    std::string text;
    ForEachLine(input, [&](const unsigned char* bytes, int n, bool full) {
        if (n == 0)
            return;
        text.clear();
        int i = 0;
        for (; i + 3 <= n; i += 3)
            AppendGroup(text, bytes[i], bytes[i + 1], bytes[i + 2], Base64Char);
        if (n - i == 1) {
            AppendGroup(text, bytes[i], 0, 0, Base64Char);
            text.replace(text.size() - 2, 2, "==");
        } else if (n - i == 2) {
            AppendGroup(text, bytes[i], bytes[i + 1], 0, Base64Char);
            text.back() = '=';
        }
        if (full)
            text += "\r\n";
        WriteText(output, text);
    });
    return true;
}

bool EncodeUU(TStream& input, TStream& output) {
    output.Seek(0, TSeekOrigin::soEnd);
    std::string text;
    // A full line that happens to end the input is followed by the
    // zero-length line on the next, final call.
    ForEachLine(input, [&](const unsigned char* bytes, int n, bool) {
        text.assign(1, UUChar(static_cast<unsigned>(n)));
        for (int i = 0; i < n; i += 3) {
            const unsigned b1 = i + 1 < n ? bytes[i + 1] : 0;
            const unsigned b2 = i + 2 < n ? bytes[i + 2] : 0;
            AppendGroup(text, bytes[i], b1, b2, UUChar);
        }
        text += "\r\n";
        WriteText(output, text);
    });
    return true;
}
