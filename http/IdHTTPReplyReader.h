#pragma once
// A reply read off the connection: its lines, its status line and header
// block, and its body as the head frames it, fed through the body decoder.

#include <cstdint>
#include <string>

class TIdIOHandler;
class TIdHeaderList;
class TIdResponseHeaderInfo;
class TIdHTTPCompressor;
class TIdHTTPBodyDecoder;
class TStream;

// A line of a reply's head; one that does not arrive within the read time-out
// raises EIdReadTimeout rather than reading as an empty line.
std::string ReadHttpLine(TIdIOHandler& io);
// The code of a status line: the word after the first blank, -1 for none.
int StatusCodeOf(const std::string& statusLine);
// The first line that is not empty, after at most limit empty ones.
std::string ReadStatusLine(TIdIOHandler& io, int limit);
// The header lines up to the empty line; more than limit are refused.
void ReadHeaderBlock(TIdIOHandler& io, TIdHeaderList& lines, int limit);

// Feeds the decoder from io until the body is whole and writes the body into
// target from its position on; the stream ends where the body ends. Small
// pieces of a chunked body are gathered before they are written (a write for
// each of a million one-byte chunks would cost a system call each), and what
// was gathered is written also when the body fails: target holds every byte
// that arrived. announced: the length a Content-Length gave, -1 for none.
void ReadFramedBody(TIdIOHandler& io, TIdHTTPBodyDecoder& decoder, TStream& target,
                    std::int64_t announced);

// The body as head frames it (chunks, a length, or until the close) into sink,
// through compressor when it is set and the body is coded its way.
void ReadResponseBody(TIdIOHandler& io, const TIdResponseHeaderInfo& head,
                      TIdHTTPCompressor* compressor, TStream& sink);
