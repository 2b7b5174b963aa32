#include "http/IdCoderMIME.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Encode(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t v =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = size - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace

std::string EncodeBase64(const std::string& data) {
    return Encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

std::string EncodeBase64(const TIdBytes& data) {
    return Encode(data.data(), data.size());
}

std::string DecodeBase64(const std::string& text) {
    std::array<int, 256> values;
    values.fill(-1);
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = i;

    std::string out;
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = values[static_cast<unsigned char>(c)];
        if (v < 0) continue;
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((accumulator >> bits) & 0xFF);
        }
    }
    return out;
}
