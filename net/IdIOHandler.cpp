#include "net/IdIOHandler.h"

#include "host/FileStream.h"
#include "host/Stream.h"
#include "net/IdAntiFreezeBase.h"
#include "net/IdExceptionCore.h"
#include "net/IdIOHandlerStack.h"
#include "net/IdIntercept.h"
#include "net/IdTransferWatch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <mutex>

namespace {

struct HandlerRegistry {
    std::mutex lock;
    TIdIOHandlerFactory factory;
    std::vector<std::string> known;
};

// Starts out with the stack handler as the default, as at program start.
HandlerRegistry& Registry() {
    static HandlerRegistry registry;
    static const bool initialised = [] {
        registry.factory = [] { return std::make_unique<TIdIOHandlerStack>(); };
        registry.known.push_back("TIdIOHandlerStack");
        return true;
    }();
    (void)initialised;
    return registry;
}

std::uint64_t ToNetOrder(std::uint64_t value, int bytes) {
    std::uint64_t out = 0;
    for (int i = 0; i < bytes; ++i) out = (out << 8) | ((value >> (8 * i)) & 0xFF);
    return out;
}

} // namespace

void SetDefaultHandlerClass(const std::string& name, TIdIOHandlerFactory factory) {
    auto& registry = Registry();
    std::lock_guard guard(registry.lock);
    registry.factory = std::move(factory);
    if (std::find(registry.known.begin(), registry.known.end(), name) == registry.known.end())
        registry.known.push_back(name);
}

std::vector<std::string> KnownHandlerClasses() {
    auto& registry = Registry();
    std::lock_guard guard(registry.lock);
    return registry.known;
}

TIdIOHandler::TIdIOHandler(TIdBaseComponent* owner) : TIdComponent(owner) {}

TIdIOHandler::~TIdIOHandler() = default;

void TIdIOHandler::Notification(TIdBaseComponent* component) {
    if (component == intercept_) intercept_ = nullptr;
}

void TIdIOHandler::SetIntercept(TIdConnectionIntercept* intercept) {
    if (intercept_) intercept_->RemoveFreeNotification(this);
    intercept_ = intercept;
    if (intercept_) intercept_->FreeNotification(this);
}

void TIdIOHandler::OpenHandler() {
    HandlerOpen = false;
    PeerClosed = false;
    // Whatever an earlier connection left unread is dropped here.
    inputQueue_ = std::make_unique<TIdBuffer>();
    inputQueue_->OnBytesTaken = [this](TIdBuffer&, std::int32_t count) { AddWork(wmRead, count); };
    HandlerOpen = true;
}

void TIdIOHandler::CloseHandler() {
    CloseTransport();
    if (intercept_) intercept_->Disconnect();
    HandlerOpen = false;
}

void TIdIOHandler::RaisePeerClosed() {
    throw EIdConnClosedGracefully();
}

void TIdIOHandler::DetectClosed(bool raiseIfClosed, bool ignoreQueue) {
    bool closed;
    if (PeerClosed) {
        if (TransportAllocated()) {
            CloseHandler();
            NotifyStatus(hsDisconnected);
        }
        closed = true;
    } else {
        closed = !TransportAllocated();
    }
    if (closed && inputQueue_ && raiseIfClosed && (inputQueue_->Size() == 0 || ignoreQueue))
        RaisePeerClosed();
}

bool TIdIOHandler::AwaitReadable(std::int32_t) {
    return false;
}

void TIdIOHandler::PlanTLS(TIdTLSStart start) {
    if (start != TIdTLSStart::None) throw EIdIOHandlerPropInvalid();
}

void TIdIOHandler::StartTLS(const std::string&) {
    throw EIdIOHandlerPropInvalid();
}

bool TIdIOHandler::WaitWithinTransfer(std::int32_t limit,
                                      const std::function<bool(std::int32_t)>& wait) {
    if (!TransferWatch) return wait(limit);
    if (limit == 0) {
        // A look that finds data goes on with the transfer: so do its bounds.
        // One that finds none is no wait, and may come after the transfer.
        const bool ready = wait(0);
        if (ready) TransferWatch->Check();
        return ready;
    }
    const auto start = TIdTransferWatch::Clock::now();
    for (;;) {
        TransferWatch->Check(); // a bound may pass between waits too
        std::int32_t own = limit;
        if (limit > 0) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    TIdTransferWatch::Clock::now() - start)
                                    .count();
            if (waited >= limit) return false;
            own = static_cast<std::int32_t>(limit - waited);
        }
        const std::int32_t bounded = TransferWatch->Bound(own);
        if (wait(bounded)) return true;
        // A wait the bounds cut goes on, to its own end or to their error.
        if (bounded == own) {
            TransferWatch->Check(TIdTransferWatch::Clock::now());
            return false;
        }
    }
}

std::int32_t TIdIOHandler::ReceiveIntoQueue(bool raiseIfDisconnected, std::int32_t timeLimit,
                                            bool raiseOnTimeout) {
    if (timeLimit == -1) timeLimit = (ReadTimeout == -1 || ReadTimeout == 0) ? -2 : ReadTimeout;
    DetectClosed(raiseIfDisconnected, false);
    if (!TransportAllocated()) {
        if (raiseIfDisconnected) throw EIdException(kNotConnectedText);
        return 0;
    }
    std::int32_t n;
    do {
        if (!WaitWithinTransfer(timeLimit, [this](std::int32_t ms) { return AwaitReadable(ms); })) {
            if (raiseOnTimeout) throw EIdReadTimeout();
            return -1;
        }
        if (!TransportAllocated()) throw EIdClosedSocket();
        // A receive size below 1 would read nothing forever; one byte is the least.
        TIdBytes block = inputQueue_->TakeSpareBlock();
        block.resize(static_cast<std::size_t>(std::max(RecvBufferSize, 1)));
        n = ReceiveFromTransport(block, timeLimit);
        if (n == -1) {
            if (raiseOnTimeout) throw EIdReadTimeout();
            return -1;
        }
        if (n > 0) {
            if (intercept_) {
                block.resize(static_cast<std::size_t>(n));
                intercept_->Receive(block);
                n = static_cast<std::int32_t>(block.size());
            }
            inputQueue_->AppendBytes(std::move(block), n);
        }
        PeerClosed = n == 0;
        DetectClosed(raiseIfDisconnected, false);
    } while (n == 0 && TransportAllocated());
    return n;
}

bool TIdIOHandler::IsConnected() {
    ReceiveIntoQueue(false, 0, false);
    DetectClosed(false, false);
    const bool queueEmpty = !inputQueue_ || inputQueue_->Size() == 0;
    const bool base = ((PeerClosed || !inputQueue_) && queueEmpty) ? false : HandlerOpen;
    return (TransportAllocated() && base) || !queueEmpty;
}

std::string TIdIOHandler::ReadLine(const std::string& terminatorText, std::int32_t timeLimit,
                                   std::int32_t maxLength) {
    const std::string terminator = terminatorText.empty() ? "\n" : terminatorText;
    if (maxLength < 0) maxLength = MaxLineLength;
    if (!inputQueue_) throw EIdException(kNotConnectedText);
    LineWasSplit = false;
    LineTimedOut = false;
    const TIdBytes pattern = ToBytes(terminator);
    const auto termLength = static_cast<std::int32_t>(pattern.size());
    std::int32_t found = -1;
    std::int32_t scanned = 0;
    const std::uint32_t start = TickCount();
    do {
        if (inputQueue_->Size() > scanned) {
            found = inputQueue_->FindBytes(pattern, std::max(0, scanned - (termLength - 1)));
            scanned = inputQueue_->Size();
        }
        if (maxLength > 0 && (found > maxLength || (found == -1 && scanned > maxLength))) {
            if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
            LineWasSplit = true;
            return inputQueue_->ExtractText(maxLength);
        }
        if (found == -1) {
            DetectClosed(true, true);
            LineTimedOut = ReceiveIntoQueue(true, timeLimit, false) == -1;
            if (!LineTimedOut && timeLimit >= 0)
                LineTimedOut =
                    TicksSince(start, TickCount()) >= static_cast<std::uint32_t>(timeLimit);
            if (LineTimedOut) return {};
        }
    } while (found == -1);
    std::string line = inputQueue_->ExtractText(found + termLength);
    std::size_t keep = static_cast<std::size_t>(found);
    if (terminator == "\n" && found > 0 && line[keep - 1] == '\r') --keep;
    line.resize(keep);
    return line;
}

void TIdIOHandler::ReadCount(TIdBytes& target, std::int32_t count, bool append) {
    if (!inputQueue_) throw EIdException(kNotConnectedText);
    if (count > 0) {
        while (inputQueue_->Size() < count) {
            ReceiveIntoQueue(false, -1, true);
            DetectClosed(true, true);
        }
        inputQueue_->ExtractBytes(target, count, append);
    } else if (count == -1) {
        ReceiveIntoQueue(false, ReadTimeout, false);
        DetectClosed(true, true);
        inputQueue_->ExtractBytes(target, -1, append);
    }
}

void PresizeStream(TStream& stream, std::int64_t count) {
    constexpr std::int64_t kPresizeLimit = 64 * 1024 * 1024;
    const std::int64_t position = stream.Position();
    if (count > std::numeric_limits<std::int64_t>::max() - position) throw EIntOverflow();
    stream.SetSize(position + std::min(count, kPresizeLimit));
    stream.SetPosition(position);
}

void CutStreamAtPosition(TStream& stream) {
    const std::int64_t position = stream.Position();
    if (stream.Size() > position) stream.SetSize(position);
}

void TIdIOHandler::ReadIntoStream(TStream& stream, std::int64_t count, bool untilClose) {
    if (!inputQueue_) throw EIdException(kNotConnectedText);
    if (count < -1) throw ERangeError();
    if (count == -1 && !untilClose) {
        count = WideCounts ? ReadInt64() : ReadInt32();
        if (count < 0) throw ERangeError(); // a peer's negative count names no length
    }
    if (count >= 0) PresizeStream(stream, count);
    std::int64_t remaining = untilClose ? std::numeric_limits<std::int64_t>::max() : count;
    bool started = false;
    // Whatever happens, progress ends and the stream is cut to what was written.
    auto cut = [&] { CutStreamAtPosition(stream); };
    auto finish = [&] {
        try {
            if (started) FinishWork(wmRead);
        } catch (...) {
            cut();
            throw;
        }
        cut();
    };
    try {
        StartWork(wmRead, untilClose ? 0 : count);
        started = true;
        if (inputQueue_->Size() > 0) {
            const auto n =
                static_cast<std::int32_t>(std::min<std::int64_t>(remaining, inputQueue_->Size()));
            inputQueue_->MoveToStream(stream, n);
            remaining -= n;
        }
        // Each piece is what one receive queued, at most RecvBufferSize bytes,
        // written straight from the queue: a received block is never copied.
        auto movePiece = [&] {
            const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(
                {remaining, inputQueue_->Size(), std::max(RecvBufferSize, 1)}));
            if (piece > 0) inputQueue_->MoveToStream(stream, piece);
            remaining -= piece;
        };
        // Nothing more is received once the count is in, nor while queued bytes
        // remain: a chunked body of small chunks would otherwise pile up its
        // whole rest in the queue, one receive per chunk.
        while (remaining > 0 && (inputQueue_->Size() > 0 || IsConnected())) {
            if (inputQueue_->Size() == 0) {
                try {
                    ReceiveIntoQueue(false, -1, true);
                    DetectClosed(true, true);
                } catch (const Exception& error) {
                    while (remaining > 0 && inputQueue_->Size() > 0) movePiece();
                    if (untilClose && dynamic_cast<const EIdConnClosedGracefully*>(&error)) break;
                    throw;
                }
            }
            movePiece();
        }
        // A known count that did not fully arrive is a failed transfer.
        if (!untilClose && remaining > 0) RaisePeerClosed();
    } catch (...) {
        try {
            finish();
        } catch (...) {
        }
        throw;
    }
    finish();
}

char TIdIOHandler::ReadChar() {
    TIdBytes bytes;
    ReadCount(bytes, 1, false);
    return static_cast<char>(bytes[0]);
}

namespace {

// Reads the bytes as one integer, the first byte highest when in network order.
std::uint64_t Assemble(const TIdBytes& bytes, bool networkOrder) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        value = (value << 8) | bytes[networkOrder ? i : bytes.size() - 1 - i];
    return value;
}

} // namespace

std::int32_t TIdIOHandler::ReadInt32(bool convertFromNetOrder) {
    TIdBytes bytes;
    ReadCount(bytes, 4, false);
    return static_cast<std::int32_t>(Assemble(bytes, convertFromNetOrder));
}

std::int64_t TIdIOHandler::ReadInt64(bool convertFromNetOrder) {
    TIdBytes bytes;
    ReadCount(bytes, 8, false);
    return static_cast<std::int64_t>(Assemble(bytes, convertFromNetOrder));
}

std::string TIdIOHandler::ReadUntilClose() {
    StartWork(wmRead, 0);
    try {
        while (IsConnected()) {
            try {
                if (ReceiveIntoQueue(false, 250, false) == 0) break;
            } catch (const Exception&) {
                break;
            }
        }
    } catch (...) {
        FinishWork(wmRead);
        throw;
    }
    std::string text = QueueAsText();
    FinishWork(wmRead);
    return text;
}

std::string TIdIOHandler::ReadLineWithRetries(int maxTries) {
    for (int i = 0; i < maxTries; ++i) {
        const std::string line = Trim(ReadLine());
        if (!line.empty()) return line;
    }
    return {};
}

void TIdIOHandler::CaptureLines(std::vector<std::string>* lines, TStream* stream,
                                const std::string& endText, bool unescapeDots, int maxLines) {
    if (!lines && !stream) throw EIdObjectTypeNotSupported();
    int count = 0;
    while (true) {
        std::string line = ReadLine();
        if (line == endText) return;
        if (maxLines != -1 && ++count > maxLines) throw EIdMaxCaptureLineExceeded();
        if (unescapeDots && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
        if (lines)
            lines->push_back(line);
        else {
            line += "\r\n";
            stream->WriteBuffer(line.data(), static_cast<std::int64_t>(line.size()));
        }
    }
}

std::string TIdIOHandler::InteractiveReadLine(bool echo, std::int32_t maxLength) {
    std::string line;
    while (true) {
        const char c = ReadChar();
        if (c == '\n') break;
        if (c == '\r') continue;
        if (c == 8) {
            if (!line.empty()) {
                line.pop_back();
                if (echo) WriteText("\b \b");
            }
            continue;
        }
        std::string piece(1, c);
        if (c == 9) piece.assign(8 - line.size() % 8, ' ');
        if (maxLength > 0 && static_cast<std::int32_t>(line.size() + piece.size()) > maxLength)
            continue;
        line += piece;
        if (echo) WriteText(piece);
    }
    if (echo) WriteText("\r\n");
    return line;
}

void TIdIOHandler::PollData(std::int32_t timeLimit) {
    try {
        if (IsConnected()) ReceiveIntoQueue(false, timeLimit, false);
    } catch (const Exception&) {
    }
}

std::string TIdIOHandler::QueueAsText() {
    return inputQueue_ ? inputQueue_->ExtractText() : std::string();
}

// A larger block is refused, never cut short.
void TIdIOHandler::CheckSendable(std::size_t size) const {
    if (size > MaxSendBlock()) throw ERangeError();
}

void TIdIOHandler::WriteBytes(const TIdBytes& bytes) {
    if (bytes.empty()) return;
    CheckSendable(bytes.size()); // before it is copied or buffered
    if (!outputBuffer_) return SendBytesNow(bytes);
    outputBuffer_->AppendBytes(bytes);
    if (outputThreshold_ > 0 && outputBuffer_->Size() >= outputThreshold_)
        FlushOutputBuffer(outputThreshold_);
}

void TIdIOHandler::WriteText(const std::string& text) {
    if (!text.empty()) WriteBytes(ToBytes(text));
}

void TIdIOHandler::WriteLine(const std::string& text) {
    WriteText(text + "\r\n");
}

void TIdIOHandler::WriteFromStream(TStream& stream, std::int64_t size, bool sendSize) {
    if (size < 0) {
        size = stream.Size() - stream.Position();
    } else if (size == 0) {
        size = stream.Size();
        stream.SetPosition(0);
    }
    if (size > std::numeric_limits<std::int32_t>::max() && !WideCounts)
        throw EIdIoHandlerRequiresLargeStream();
    if (sendSize) {
        if (WideCounts)
            WriteInt64(size);
        else
            WriteInt32(static_cast<std::int32_t>(size));
    }
    StartWork(wmWrite, size);
    try {
        TIdBytes block;
        while (size > 0) {
            block.resize(static_cast<std::size_t>(std::min<std::int64_t>(size, SendBufferSize)));
            const std::int64_t n =
                stream.Read(block.data(), static_cast<std::int64_t>(block.size()));
            if (n <= 0) throw EIdNoDataToRead();
            block.resize(static_cast<std::size_t>(n));
            WriteBytes(block);
            size -= n;
        }
    } catch (...) {
        FinishWork(wmWrite);
        throw;
    }
    FinishWork(wmWrite);
}

void TIdIOHandler::SendBytesNow(TIdBytes bytes) {
    // Every write ends here; a handler that was never opened has no transport.
    if (!inputQueue_) throw EIdException(kNotConnectedText);
    DetectClosed(true, true);
    if (intercept_) intercept_->Send(bytes);
    CheckSendable(bytes.size()); // an intercept may have grown it
    const auto size = static_cast<std::int32_t>(bytes.size());
    std::int32_t position = 0;
    while (position < size) {
        const std::int32_t sent = SendToTransport(bytes, position, size - position);
        TIdAntiFreezeBase::DoProcess(false);
        PeerClosed = sent == 0;
        DetectClosed(true, false);
        // A transport that takes nothing would otherwise be offered the rest forever.
        if (sent == 0) RaisePeerClosed();
        AddWork(wmWrite, sent);
        position += sent;
    }
}

void TIdIOHandler::WriteChar(char c) {
    WriteBytes(TIdBytes{static_cast<std::uint8_t>(c)});
}

void TIdIOHandler::WriteInt32(std::int32_t value, bool convertToNetOrder) {
    auto v = static_cast<std::uint32_t>(value);
    if (convertToNetOrder) v = static_cast<std::uint32_t>(ToNetOrder(v, 4));
    TIdBytes bytes(4);
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    WriteBytes(bytes);
}

void TIdIOHandler::WriteInt64(std::int64_t value, bool convertToNetOrder) {
    auto v = static_cast<std::uint64_t>(value);
    if (convertToNetOrder) v = ToNetOrder(v, 8);
    TIdBytes bytes(8);
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    WriteBytes(bytes);
}

void TIdIOHandler::WriteLines(const std::vector<std::string>& lines, bool writeCount) {
    OpenOutputBuffer();
    try {
        if (writeCount) WriteInt32(static_cast<std::int32_t>(lines.size()));
        for (const auto& line : lines) WriteLine(line);
        CloseOutputBuffer();
    } catch (...) {
        CancelOutputBuffer();
        throw;
    }
}

std::int64_t TIdIOHandler::WriteFile(const std::string& fileName) {
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(fileName, fmOpenRead);
    } catch (const EFOpenError&) {
        std::error_code error;
        const std::filesystem::path path(std::u8string(fileName.begin(), fileName.end()));
        if (std::filesystem::exists(path, error)) throw;
        throw EIdFileNotFound("File \"" + fileName + "\" not found");
    }
    const std::int64_t size = file->Size();
    WriteFromStream(*file, 0, false);
    return size;
}

void TIdIOHandler::OpenOutputBuffer(std::int32_t threshold) {
    if (outputBuffer_)
        outputBuffer_->DiscardAll();
    else
        outputBuffer_ = std::make_unique<TIdBuffer>();
    outputThreshold_ = threshold;
}

void TIdIOHandler::FlushOutputBuffer(std::int32_t count) {
    if (!outputBuffer_ || outputBuffer_->Size() == 0) return;
    TIdBytes bytes;
    outputBuffer_->ExtractBytes(bytes, count, true);
    SendBytesNow(std::move(bytes));
}

void TIdIOHandler::CloseOutputBuffer() {
    try {
        FlushOutputBuffer(-1);
    } catch (...) {
        outputBuffer_.reset();
        throw;
    }
    outputBuffer_.reset();
}

void TIdIOHandler::ClearOutputBuffer() {
    if (outputBuffer_) outputBuffer_->DiscardAll();
}

void TIdIOHandler::CancelOutputBuffer() {
    ClearOutputBuffer();
    CloseOutputBuffer();
}

std::unique_ptr<TIdIOHandler> CreateDefaultHandler() {
    auto& registry = Registry();
    TIdIOHandlerFactory factory;
    {
        std::lock_guard guard(registry.lock);
        factory = registry.factory;
    }
    return factory();
}
