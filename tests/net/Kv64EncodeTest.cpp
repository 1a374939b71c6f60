#include "net/Kv64Encode.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <random>

namespace {

std::string Base64(const std::string& input) {
    TMemoryStream in(input);
    TMemoryStream out;
    EXPECT_TRUE(EncodeBase64(in, out));
    return out.DataString();
}

std::string UU(const std::string& input) {
    TMemoryStream in(input);
    TMemoryStream out;
    EXPECT_TRUE(EncodeUU(in, out));
    return out.DataString();
}

// coreutils base64 wraps at 60 characters with LF after every line; ours has
// CR LF after full lines only.
std::string ReferenceBase64(const std::string& input) {
    QProcess process;
    process.start("base64", { "-w", "60" });
    if (!process.waitForStarted(30000))
        return "base64 did not start";
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return "base64 did not finish";
    const QByteArray lf = process.readAllStandardOutput();
    std::string text;
    for (char c : lf) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    if (input.size() % 45 != 0)
        text.resize(text.size() - 2);
    return text;
}

std::string Repeat(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

} // namespace

TEST(Base64, MatchesAnIndependentEncoderLineLayoutIncluded) {
    std::mt19937 rng(4242);
    std::vector<size_t> sizes = { 0, 1, 2, 3, 4, 44, 45, 46, 89, 90, 91, 135, 100000 };
    for (int i = 0; i < 25; ++i)
        sizes.push_back(rng() % 3000);
    for (const size_t size : sizes) {
        std::string input(size, '\0');
        for (char& c : input)
            c = static_cast<char>(rng());
        SCOPED_TRACE(size);
        EXPECT_EQ(Base64(input), ReferenceBase64(input));
    }
}

TEST(Base64, LayoutAtTheEdges) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("M"), "TQ==");
    EXPECT_EQ(Base64("Ma"), "TWE=");
    EXPECT_EQ(Base64("Man"), "TWFu");
    EXPECT_EQ(Base64("user:pass"), "dXNlcjpwYXNz");
    const std::string a45(45, 'a');
    const std::string fullLine = Repeat("YWFh", 15) + "\r\n";
    EXPECT_EQ(Base64(a45), fullLine);
    EXPECT_EQ(Base64(a45 + "a"), fullLine + "YQ==");
    EXPECT_EQ(Base64(a45 + "aa"), fullLine + "YWE=");
    EXPECT_EQ(Base64(a45 + a45), fullLine + fullLine);

    SCOPED_TRACE("text already in the output stays in front");
    TMemoryStream in(std::string("Man"));
    TMemoryStream out(std::string("Basic "));
    EncodeBase64(in, out);
    EXPECT_EQ(out.DataString(), "Basic TWFu");
}

TEST(UUEncode, LinesCarryTheirLengthAndAlwaysEnd) {
    EXPECT_EQ(UU(""), "`\r\n");
    EXPECT_EQ(UU("Cat"), "#0V%T\r\n");
    EXPECT_EQ(UU("a"), "!80``\r\n");
    EXPECT_EQ(UU(std::string(3, '\0')), "#````\r\n");
    EXPECT_EQ(UU("b"), "!8@``\r\n");
    const std::string a45(45, 'a');
    const std::string fullLine = "M" + Repeat("86%A", 15) + "\r\n";
    EXPECT_EQ(UU(a45 + "b"), fullLine + "!8@``\r\n");
    EXPECT_EQ(UU(a45 + "bb"), fullLine + "\"8F(`\r\n");
    // A positive multiple of 45 ends with the zero-length line.
    EXPECT_EQ(UU(a45), fullLine + "`\r\n");
    EXPECT_EQ(UU(a45 + a45), fullLine + fullLine + "`\r\n");
}
