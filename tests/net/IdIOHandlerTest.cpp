#include "net/IdIOHandler.h"
#include "net/IdTransferWatch.h"

#include "host/FileStream.h"
#include "host/Stream.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>

#include <thread>

#include <cstdio>
#include <functional>

using vyktest::MemoryIOHandler;
using vyktest::Script;
using vyktest::ScriptedServer;

namespace {

// An open in-memory handler serving reply, at most maxRead bytes per receive.
std::unique_ptr<MemoryIOHandler> Open(const std::string& reply, int maxRead = 1 << 30,
                                      bool holdOpen = false) {
    auto io = std::make_unique<MemoryIOHandler>(reply, maxRead);
    io->HoldOpen = holdOpen;
    io->OpenHandler();
    return io;
}

class FullDiskStream : public TMemoryStream {
public:
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
};

} // namespace

TEST(ReadLine, DropsTheLineEnd) {
    auto io = Open("HTTP/1.0 200 OK\r\nbare\n\r\nlone\rcr\n", 3);
    EXPECT_EQ(io->ReadLine(), "HTTP/1.0 200 OK");
    EXPECT_EQ(io->ReadLine(), "bare");
    EXPECT_EQ(io->ReadLine(), "");
    EXPECT_EQ(io->ReadLine(), "lone\rcr");
}

TEST(ReadLine, FindsATerminatorSplitAcrossReceives) {
    ScriptedServer server(
        Script().Send("first\r", 0).Wait(100).Send("\nsecond\r").Wait(100).Send("\n").Stall());
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.EstablishConnection();
    EXPECT_EQ(client.IOHandler()->ReadLine(), "first");
    EXPECT_EQ(client.IOHandler()->ReadLine("\r\n"), "second");
}

TEST(ReadLine, LongestLineAndOneByteMore) {
    const std::string longest(16384, 'a');
    auto ok = Open(longest + "\n", 1000);
    EXPECT_EQ(ok->ReadLine(), longest);
    auto okWithCR = Open(std::string(16383, 'a') + "\r\n", 1000);
    EXPECT_EQ(okWithCR->ReadLine().size(), 16383u);

    auto tooLong = Open(longest + "b\n", 1000);
    EXPECT_THROW(tooLong->ReadLine(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_EQ(tooLong->InputQueue()->Size(), 16385 + 1);

    auto noEnd = Open(std::string(20000, 'a'), 1000, true);
    EXPECT_THROW(noEnd->ReadLine(), EIdReadLnMaxLineLengthExceeded);

    auto split = Open(longest + "b\nnext\n", 1000);
    split->MaxLineAction = maSplit;
    EXPECT_EQ(split->ReadLine(), longest);
    EXPECT_TRUE(split->LineWasSplit);
    EXPECT_EQ(split->ReadLine(), "b");
    EXPECT_FALSE(split->LineWasSplit);
    EXPECT_EQ(split->ReadLine(), "next");
}

TEST(ReadLine, TimeLimitZeroReturnsEmptyAtOnce) {
    auto io = Open("", 1000, true);
    EXPECT_EQ(io->ReadLine("\n", 0), "");
    EXPECT_TRUE(io->LineTimedOut);
    // One look moves what has arrived into the queue; the next call finds the line there.
    io->Reply = "later\n";
    EXPECT_EQ(io->ReadLine("\n", 0), "");
    EXPECT_EQ(io->ReadLine("\n", 0), "later");
    EXPECT_FALSE(io->LineTimedOut);
}

TEST(ReadLine, PeerCloseWithPartialLineRaisesAndKeepsTheBytes) {
    auto io = Open("abc");
    EXPECT_THROW(io->ReadLine(), EIdConnClosedGracefully);
    EXPECT_EQ(io->InputQueue()->Size(), 3);
}

TEST(ReadTimeouts, ReadLineReturnsEmptyWhereReadCountRaises) {
    ScriptedServer server(Script().Stall());
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetReadTimeout(200);
    client.EstablishConnection();
    TIdIOHandler& io = *client.IOHandler();
    EXPECT_EQ(io.ReadLine(), "");
    EXPECT_TRUE(io.LineTimedOut);
    TIdBytes bytes;
    EXPECT_THROW(io.ReadCount(bytes, 1), EIdReadTimeout);
}

TEST(ReadCount, ExactCountsAndShortReads) {
    auto io = Open("0123456789", 3);
    TIdBytes target = ToBytes("xx");
    io->ReadCount(target, 4, true);
    EXPECT_EQ(BytesToString(target), "xx0123");
    io->ReadCount(target, 2, false);
    EXPECT_EQ(BytesToString(target), "450123");
    TIdBytes rest;
    EXPECT_THROW(io->ReadCount(rest, 10), EIdConnClosedGracefully);
    EXPECT_EQ(io->InputQueue()->Size(), 4);
    EXPECT_EQ(io->QueueAsText(), "6789");
}

TEST(ReadIntoStream, ByCountInPiecesWithProgress) {
    const std::string body(1 << 20, 'z');
    auto io = Open(body, 32768);
    std::vector<std::int32_t> counts;
    std::int32_t announced = -1;
    int ends = 0;
    io->OnWorkBegin = [&](TIdComponent*, TWorkMode mode, std::int32_t max) {
        EXPECT_EQ(mode, wmRead);
        announced = max;
    };
    io->OnWork = [&](TIdComponent*, TWorkMode, std::int32_t count) { counts.push_back(count); };
    io->OnWorkEnd = [&](TIdComponent*, TWorkMode) { ++ends; };
    TMemoryStream stream;
    io->ReadIntoStream(stream, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(stream.DataString(), body);
    EXPECT_EQ(announced, 1 << 20);
    ASSERT_EQ(counts.size(), 32u);
    EXPECT_EQ(counts.front(), 32768);
    EXPECT_EQ(counts.back(), 1 << 20);
    EXPECT_EQ(ends, 1);
    EXPECT_LE(io->InputQueue()->Capacity(), 32768 + 2048);

    // Counts that the queue already holds are read without another receive,
    // or a body of small chunks would pile up in the queue.
    auto small = Open(std::string(1 << 20, 'y'), 32768);
    for (int i = 0; i < 100; ++i) {
        TMemoryStream one;
        small->ReadIntoStream(one, 1);
    }
    EXPECT_EQ(small->InputQueue()->Size(), 32768 - 100);

    // Each look that finds data goes on with the transfer: so do its bounds,
    // though no wait ever waits.
    auto busy = Open(body, 1024);
    TIdTransferWatch watch;
    watch.Start(1, 0, 0);
    busy->TransferWatch = &watch;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_THROW(busy->ReadIntoStream(stream, 4096), EIdTransferTimeout);
}

TEST(ReadIntoStream, ShortBodyRaisesAfterWritingWhatArrived) {
    // The close seen by the poll at the head of the loop.
    auto queued = Open("abcd");
    TIdBytes first;
    queued->ReadCount(first, 1);
    TMemoryStream stream;
    EXPECT_THROW(queued->ReadIntoStream(stream, 10), EIdConnClosedGracefully);
    EXPECT_EQ(stream.DataString(), "bcd");
    EXPECT_EQ(stream.Size(), 3);

    // The close seen while waiting for a piece.
    auto waiting = Open("abcd", 2);
    TMemoryStream second;
    EXPECT_THROW(waiting->ReadIntoStream(second, 10), EIdConnClosedGracefully);
    EXPECT_EQ(second.DataString(), "abcd");

    // A length announced far above what is sent reserves neither memory nor disk.
    const std::int64_t announced = 100000000000;
    auto huge = Open("abcd");
    TMemoryStream memory;
    EXPECT_THROW(huge->ReadIntoStream(memory, announced), EIdConnClosedGracefully);
    EXPECT_EQ(memory.DataString(), "abcd");
    const std::string name = ::testing::TempDir() + "vyk-announced.bin";
    {
        auto toFile = Open("abcd");
        TFileStream file(name, fmCreate);
        EXPECT_THROW(toFile->ReadIntoStream(file, announced), EIdConnClosedGracefully);
        EXPECT_EQ(file.Size(), 4);
    }
    std::remove(name.c_str());
}

TEST(ReadIntoStream, UntilCloseEndsNormallyAndCountZeroCutsTheStream) {
    auto io = Open("everything until the end", 5);
    TMemoryStream stream;
    io->ReadIntoStream(stream, -1, true);
    EXPECT_EQ(stream.DataString(), "everything until the end");

    auto empty = Open("", 5, true);
    TStringStream cut("0123456789");
    cut.SetPosition(4);
    empty->ReadIntoStream(cut, 0);
    EXPECT_EQ(cut.DataString(), "0123");
}

TEST(ReadIntoStream, CountsBelowMinusOneAreRefusedBeforeAnythingMoves) {
    auto io = Open(std::string("\xff\xff\xff\xfb", 4) + "body");
    TMemoryStream stream;
    EXPECT_THROW(io->ReadIntoStream(stream, -5), ERangeError);
    EXPECT_EQ(io->InputQueue()->Size(), 0); // nothing read from the peer either
    // A count that the peer sends is no better, -1 included.
    EXPECT_THROW(io->ReadIntoStream(stream, -1), ERangeError);
    auto minusOne = Open(std::string("\xff\xff\xff\xff", 4) + "body");
    EXPECT_THROW(minusOne->ReadIntoStream(stream, -1), ERangeError);
    auto alone = Open(std::string("\xff\xff\xff\xfb", 4));
    EXPECT_THROW(alone->ReadIntoStream(stream, -1), ERangeError);
    EXPECT_EQ(stream.Size(), 0);
}

TEST(ReadIntoStream, AStreamThatRefusesBytesFailsTheRead) {
    auto io = Open("some body bytes", 4);
    FullDiskStream full;
    EXPECT_THROW(io->ReadIntoStream(full, 15), EWriteError);
    auto untilClose = Open("some body bytes", 4);
    FullDiskStream full2;
    EXPECT_THROW(untilClose->ReadIntoStream(full2, -1, true), EWriteError);
}

TEST(Writing, BufferedRequestHeadLeavesInOneSend) {
    auto io = Open("", 1, true);
    io->OpenOutputBuffer();
    io->WriteLine("GET / HTTP/1.1");
    io->WriteLine("Host: x");
    io->WriteText("");
    io->WriteLine();
    EXPECT_TRUE(io->Sends().empty());
    io->CloseOutputBuffer();
    ASSERT_EQ(io->Sends().size(), 1u);
    EXPECT_EQ(io->Sends()[0], "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(io->OutputBuffer(), nullptr);

    io->OpenOutputBuffer(4);
    io->WriteText("abcdef");
    EXPECT_EQ(io->Sends().back(), "abcd");
    io->CancelOutputBuffer();
    EXPECT_EQ(io->Sends().size(), 2u);
}

TEST(Writing, WritingAfterANoticedCloseRaisesEvenWithBytesQueued) {
    auto io = Open("unread");
    while (!io->PeerClosed) io->ReceiveIntoQueue(false, 0, false);
    EXPECT_TRUE(io->IsConnected());
    EXPECT_THROW(io->WriteLine("x"), EIdConnClosedGracefully);
}

TEST(Writing, StreamsIntegersAndFailedSends) {
    auto io = Open("", 1, true);
    TStringStream source("payload");
    source.SetPosition(3);
    io->WriteFromStream(source, -1);
    io->WriteFromStream(source, 0, true);
    io->WriteInt32(0x01020304);
    EXPECT_EQ(io->Written(),
              std::string("load") + std::string("\0\0\0\x07", 4) + "payload" + "\x01\x02\x03\x04");

    auto failing = Open("", 1, true);
    failing->FailOnWrite = 1;
    EXPECT_THROW(failing->WriteLine("x"), EIdSocketError);
}

TEST(IsConnected, StaysTrueWhileClosedConnectionBytesRemain) {
    ScriptedServer server(Script().Send("tail").Close());
    TIdTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.EstablishConnection();
    TIdIOHandler& io = *client.IOHandler();
    while (!io.PeerClosed) io.ReceiveIntoQueue(false, 1000, false);
    EXPECT_TRUE(io.IsConnected());
    TIdBytes bytes;
    io.ReadCount(bytes, 4);
    EXPECT_FALSE(io.IsConnected());
    EXPECT_THROW(io.ReadLine(), EIdConnClosedGracefully);
}

TEST(Destination, SocketHandlerSplitsAtTheLastColon) {
    TIdIOHandlerStack io;
    io.DefaultPort = 80;
    io.SetDestination("example.test:8080");
    EXPECT_EQ(io.Host, "example.test");
    EXPECT_EQ(io.Port, 8080);
    EXPECT_EQ(io.Destination(), "example.test:8080");
    io.SetDestination("other:x");
    EXPECT_EQ(io.Port, 80);
    EXPECT_EQ(io.Destination(), "other");
    io.SetDestination("nocolon");
    EXPECT_EQ(io.Host, "other");
}

TEST(Writing, EveryWriteOnAHandlerNeverOpenedRaisesNotConnected) {
    const std::vector<std::function<void(TIdIOHandler&)>> writes = {
        [](TIdIOHandler& io) {
            io.WriteBytes({1, 2});
        },
        [](TIdIOHandler& io) { io.WriteText("x"); },
        [](TIdIOHandler& io) { io.WriteLine("x"); },
        [](TIdIOHandler& io) {
            TStringStream source("x");
            io.WriteFromStream(source);
        },
        [](TIdIOHandler& io) {
            io.OpenOutputBuffer();
            io.WriteText("x");
            io.FlushOutputBuffer();
        },
    };
    for (std::size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE(i);
        TIdIOHandlerStack io;
        try {
            writes[i](io);
            ADD_FAILURE() << "no error";
        } catch (const EIdException& e) {
            EXPECT_STREQ(e.what(), "Not Connected");
        }
    }
}

// The limit is the 32-bit count of the transport; a test handler lowers it so
// that no test needs a 2 GiB block.
TEST(Writing, ABlockAboveTheSendLimitIsRefusedNotCutShort) {
    EXPECT_EQ(MemoryIOHandler().MaxSendBlock(), 2147483647u);
    const std::vector<std::function<void(TIdIOHandler&)>> tooLarge = {
        [](TIdIOHandler& io) { io.WriteBytes(TIdBytes(9)); },
        [](TIdIOHandler& io) { io.WriteText(std::string(9, 'x')); },
        [](TIdIOHandler& io) { // buffered in pieces that pass, sent as one that does not
            io.OpenOutputBuffer();
            io.WriteBytes(TIdBytes(5));
            io.WriteBytes(TIdBytes(4));
            io.CloseOutputBuffer();
        },
    };
    for (std::size_t i = 0; i < tooLarge.size(); ++i) {
        SCOPED_TRACE(i);
        auto io = Open("", 1, true);
        io->SendLimit = 8;
        EXPECT_THROW(tooLarge[i](*io), ERangeError);
        EXPECT_TRUE(io->Sends().empty());
        io->WriteBytes(TIdBytes(8));
        EXPECT_EQ(io->Written().size(), 8u);
    }
}

TEST(WorkRecord, AHandlerThatRaisesLeavesNoWorkOpen) {
    auto io = Open("12345678", 1 << 30, true);
    int begins = 0, ends = 0;
    io->OnWorkBegin = [&](TIdComponent*, TWorkMode, std::int32_t) {
        if (++begins == 1) throw EAbort("stop");
    };
    io->OnWorkEnd = [&](TIdComponent*, TWorkMode) {
        if (++ends == 1) throw EAbort("stop");
    };
    TMemoryStream stream;
    EXPECT_THROW(io->ReadIntoStream(stream, 2), EAbort);
    EXPECT_EQ(io->Work(wmRead).Depth, 0);
    EXPECT_EQ(ends, 0);
    EXPECT_THROW(io->ReadIntoStream(stream, 2), EAbort); // from the end handler
    EXPECT_EQ(io->Work(wmRead).Depth, 0);
    io->ReadIntoStream(stream, 2);
    EXPECT_EQ(begins, 3);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(io->Work(wmRead).Depth, 0);
    // With no work open, line reads count nothing.
    int works = 0;
    io->OnWork = [&](TIdComponent*, TWorkMode, std::int32_t) { ++works; };
    TIdBytes rest;
    io->ReadCount(rest, 2);
    EXPECT_EQ(works, 0);

    // Counts beyond 32 bits reach the events as the largest they carry, not as a failure.
    std::int32_t announced = 0, counted = 0;
    io->OnWorkBegin = [&](TIdComponent*, TWorkMode, std::int32_t max) { announced = max; };
    io->OnWork = [&](TIdComponent*, TWorkMode, std::int32_t count) { counted = count; };
    io->OnWorkEnd = nullptr;
    io->StartWork(wmRead, 5000000000);
    io->AddWork(wmRead, 3000000000);
    EXPECT_EQ(announced, 2147483647);
    EXPECT_EQ(counted, 2147483647);
    EXPECT_EQ(io->Work(wmRead).Done, 3000000000);
    io->FinishWork(wmRead);
}
