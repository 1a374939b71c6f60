#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/TFileStream.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

TEST(Streams, MemoryStreamReadsBackWhatWasWrittenAndRefusesShortReads) {
    TMemoryStream stream;
    stream.WriteBuffer("abc\0def", 7);
    EXPECT_EQ(stream.Size(), 7);
    stream.SetPosition(0);
    char buffer[8] = {};
    stream.ReadBuffer(buffer, 7);
    EXPECT_EQ(std::string(buffer, 7), std::string("abc\0def", 7));
    EXPECT_THROW(stream.ReadBuffer(buffer, 1), EReadError);
}

TEST(Streams, FileStreamErrorsNameTheFullPath) {
    QTemporaryDir dir;
    const std::string missing = dir.path().toStdString() + "/missing/file.txt";
    try {
        TFileStream stream(missing, fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
    }
    try {
        TFileStream stream(missing, fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + missing + "\". No such file or directory");
    }
    const std::string name = dir.path().toStdString() + "/f.bin";
    {
        TFileStream out(name, fmCreate);
        out.WriteBuffer("hello", 5);
    }
    TFileStream in(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(in.Size(), 5);
    TMemoryStream copy;
    copy.CopyFrom(in, 0);
    EXPECT_EQ(copy.DataString(), "hello");
}
