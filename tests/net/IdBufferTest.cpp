#include "net/IdBuffer.h"

#include "host/Stream.h"
#include "net/IdExceptionCore.h"
#include "net/IdStack.h"
#include "tests/support/Raised.h"

#include <gtest/gtest.h>

namespace {

TIdBytes Bytes(const std::string& s) {
    return ToBytes(s);
}

// A stream that refuses every write, as a full disk does.
class FullDiskStream : public TMemoryStream {
public:
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
};

} // namespace

TEST(TIdBuffer, AppendToEmptyQueueAdoptsTheBlock) {
    TIdBuffer queue;
    TIdBytes block = Bytes("abcde");
    const std::uint8_t* data = block.data();
    queue.AppendBytes(std::move(block));
    EXPECT_EQ(queue.StorageData(), data);
    EXPECT_EQ(queue.Capacity(), 5);
    queue.AppendBytes(Bytes("fgh"));
    EXPECT_EQ(queue.Capacity(), 5 + 3 + 2048);
    EXPECT_EQ(queue.ExtractText(), "abcdefgh");
}

TEST(TIdBuffer, DropFrontMovesOnlyTheOffsetAndNotifiesRequestedCount) {
    TIdBuffer queue;
    std::vector<int> taken;
    queue.OnBytesTaken = [&](TIdBuffer&, std::int32_t count) { taken.push_back(count); };
    queue.AppendBytes(Bytes("abcde"));
    const std::uint8_t* data = queue.StorageData();
    queue.DropFront(2);
    EXPECT_EQ(queue.FrontOffset(), 2);
    EXPECT_EQ(queue.Size(), 3);
    EXPECT_EQ(queue.StorageData(), data);
    queue.DropFront(7);
    EXPECT_EQ(queue.Size(), 0);
    EXPECT_EQ(queue.Capacity(), 0);
    EXPECT_EQ(taken, (std::vector<int>{2, 7}));
}

// Compacting moves what remains, so it waits until more was taken than remains.
TEST(TIdBuffer, CompactsOnlyWhenTheFrontOutgrowsTheRest) {
    TIdBuffer queue;
    queue.AppendBytes(TIdBytes(10000, 'x'));
    queue.DropFront(2049);
    EXPECT_EQ(queue.FrontOffset(), 2049);
    queue.DropFront(2951);
    EXPECT_EQ(queue.FrontOffset(), 0);
    EXPECT_EQ(queue.Capacity(), 5000 + 2048);
    EXPECT_EQ(queue.Size(), 5000);
    // A block that fits behind the rest is copied there, nothing moved.
    queue.DropFront(10);
    queue.AppendBytes(TIdBytes(5, 'y'));
    EXPECT_EQ(queue.FrontOffset(), 10);
    EXPECT_EQ(queue.Size(), 4995);
}

TEST(TIdBuffer, AppendToNonEmptyQueueCompactsFirst) {
    TIdBuffer queue;
    queue.AppendBytes(Bytes("0123456789"));
    queue.DropFront(4);
    queue.AppendBytes(Bytes("ab"));
    EXPECT_EQ(queue.FrontOffset(), 0);
    EXPECT_EQ(queue.ExtractText(), "456789ab");
}

TEST(TIdBuffer, FindBytesCountsFromTheFront) {
    TIdBuffer queue;
    EXPECT_EQ(queue.FindBytes({}), -1);
    queue.AppendBytes(Bytes("zzab\r\ncd"));
    queue.DropFront(2);
    EXPECT_EQ(queue.FindBytes(Bytes("\n"), 0), 3);
    EXPECT_EQ(queue.FindBytes(Bytes("\n"), 4), -1);
    EXPECT_EQ(queue.FindText("\r\n", 0), 2);
    EXPECT_EQ(queue.FindText("cd", 0), 4);
    EXPECT_THROW(queue.FindBytes({}), EIdException);
    EXPECT_STREQ(vyktest::Raised<EIdException>([&] { queue.FindBytes(Bytes("\n"), 6); }).what(),
                 "Buffer start position is invalid.");
}

TEST(TIdBuffer, ExtractWithAndWithoutAppend) {
    TIdBuffer queue;
    int notified = 0;
    queue.OnBytesTaken = [&](TIdBuffer&, std::int32_t) { ++notified; };
    EXPECT_EQ(queue.ExtractText(-1), "");
    EXPECT_EQ(notified, 0);

    queue.AppendBytes(Bytes("abcdef"));
    TIdBytes target = Bytes("XYZW");
    queue.ExtractBytes(target, 2, false);
    EXPECT_EQ(BytesToString(target), "abZW");
    queue.ExtractBytes(target, 2, true);
    EXPECT_EQ(BytesToString(target), "abZWcd");
    EXPECT_EQ(queue.ExtractText(), "ef");
}

TEST(TIdBuffer, ExtractingTooMuchRaisesWithBothCounts) {
    TIdBuffer queue;
    queue.AppendBytes(Bytes("abcd"));
    TIdBytes target;
    EXPECT_STREQ(
        vyktest::Raised<EIdNotEnoughDataInBuffer>([&] { queue.ExtractBytes(target, 10); }).what(),
        "Not enough data in buffer. (10/4)");
    EXPECT_EQ(queue.Size(), 4);
}

TEST(TIdBuffer, MoveToStreamWritesAndChecksTheStreamTookAll) {
    TIdBuffer queue;
    queue.AppendBytes(Bytes("hello world"));
    TMemoryStream stream;
    queue.MoveToStream(stream, 5);
    EXPECT_EQ(stream.DataString(), "hello");
    queue.MoveToStream(stream, 0);
    EXPECT_EQ(queue.Size(), 6);
    EXPECT_EQ(queue.FrontOffset(), 5); // written from where it stands, nothing moved
    TMemoryStream space;
    queue.MoveToStream(space, 1);
    EXPECT_EQ(space.DataString(), " ");
    queue.AppendBytes(Bytes("|"));

    FullDiskStream full;
    EXPECT_THROW(queue.MoveToStream(full), EWriteError);
    EXPECT_EQ(queue.Size(), 6);

    // Negative counts would move the front before the storage.
    EXPECT_THROW(queue.MoveToStream(stream, -5), ERangeError);
    EXPECT_THROW(queue.DropFront(-5), ERangeError);
    EXPECT_EQ(queue.ExtractText(), "world|");
}

TEST(TIdBuffer, QueueHoldsAStackReference) {
    const int before = StackUsers();
    {
        TIdBuffer queue;
        EXPECT_EQ(StackUsers(), before + 1);
    }
    EXPECT_EQ(StackUsers(), before);
}
