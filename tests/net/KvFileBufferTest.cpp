#include "net/KvFileBuffer.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <gtest/gtest.h>

namespace {

std::string Window(const TKvFileBuffer& buffer) {
    return std::string(buffer.Start(), buffer.End());
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('A' + i % 23);
    return bytes;
}

} // namespace

TEST(FileBuffer, WindowsCoverTheStreamInBlocksOf65533Bytes) {
    {
        SCOPED_TRACE("empty stream");
        TMemoryStream stream;
        TKvFileBuffer buffer(stream);
        EXPECT_EQ(buffer.Start(), buffer.End());
        EXPECT_FALSE(buffer.FillWindow(buffer.End(), 0));
        EXPECT_EQ(buffer.Start(), buffer.End());
    }
    {
        SCOPED_TRACE("exactly one window, read from the start whatever the position");
        const std::string bytes = Pattern(65533);
        TMemoryStream stream(bytes);
        stream.SetPosition(100);
        TKvFileBuffer buffer(stream);
        EXPECT_EQ(Window(buffer), bytes);
        EXPECT_EQ(*buffer.End(), 0);
        EXPECT_FALSE(buffer.FillWindow(buffer.End(), 0));
        EXPECT_EQ(Window(buffer), bytes);
    }
    {
        SCOPED_TRACE("one byte more");
        const std::string bytes = Pattern(65534);
        TMemoryStream stream(bytes);
        TKvFileBuffer buffer(stream);
        EXPECT_EQ(Window(buffer), bytes.substr(0, 65533));
        const char* start = buffer.Start();
        ASSERT_TRUE(buffer.FillWindow(buffer.End(), 0));
        EXPECT_EQ(buffer.Start(), start);
        EXPECT_EQ(Window(buffer), bytes.substr(65533));
        EXPECT_EQ(*buffer.End(), 0);
        EXPECT_FALSE(buffer.FillWindow(buffer.End(), 0));
    }
    {
        SCOPED_TRACE("carried bytes move to the front of the next window");
        const std::string bytes = Pattern(70000);
        TMemoryStream stream(bytes);
        TKvFileBuffer buffer(stream);
        ASSERT_TRUE(buffer.FillWindow(buffer.End() - 3, 3));
        EXPECT_EQ(Window(buffer), bytes.substr(65530));
    }
}
