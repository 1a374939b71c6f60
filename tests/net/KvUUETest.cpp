#include "net/KvUUE.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(UUProcessor, EncodesWithTheChosenMethodAndRewindsBothStreams) {
    TMemoryStream in(std::string("Cat"));
    in.SetPosition(2);
    TMemoryStream out(std::string(">"));
    TKvUUProcessor processor(nullptr);
    EXPECT_EQ(processor.Method, uuMime);
    std::vector<std::string> events;
    processor.OnBeginEncode = [&](TComponent* sender) {
        EXPECT_EQ(sender, &processor);
        events.push_back("begin@" + std::to_string(in.Position()));
    };
    processor.OnEndEncode = [&](TComponent*) {
        events.push_back("end@" + std::to_string(out.Position()));
    };
    processor.InputStream = &in;
    processor.OutputStream = &out;
    processor.Encode();
    EXPECT_EQ(out.DataString(), ">Q2F0");
    EXPECT_EQ(in.Position(), 0);
    EXPECT_EQ(out.Position(), 0);
    EXPECT_EQ(events, (std::vector<std::string> { "begin@0", "end@0" }));

    processor.Method = uuCode;
    out.Clear();
    processor.Encode();
    EXPECT_EQ(out.DataString(), "#0V%T\r\n");
}
