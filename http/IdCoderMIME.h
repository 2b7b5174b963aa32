#pragma once
// Base64 with the RFC 2045 alphabet and "=" padding, without line breaks.

#include "net/IdGlobal.h"

#include <string>

std::string EncodeBase64(const std::string& data);
std::string EncodeBase64(const TIdBytes& data);
// Characters outside the alphabet (line breaks, blanks) are skipped; decoding
// stops at the first "=". A dangling single character yields nothing.
std::string DecodeBase64(const std::string& text);
