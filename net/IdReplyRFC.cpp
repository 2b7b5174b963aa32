#include "net/IdReplyRFC.h"

#include "net/IdExceptionCore.h"
#include "net/IdGlobal.h"

void TIdReplyRFC::SetCode(const std::string& code) {
    const bool valid = code.empty() || (code.size() == 3 && TryTextToInt32(code).has_value() &&
                                        code.find_first_not_of("0123456789") == std::string::npos);
    if (!valid) throw EIdException("Reply Code is not valid: " + code);
    code_ = code;
}

int TIdReplyRFC::NumericCode() const {
    return code_.empty() ? 0 : TryTextToInt32(code_).value_or(0);
}

void TIdReplyRFC::Clear() {
    code_.clear();
    Text.clear();
}

void TIdReplyRFC::RaiseReplyError() const {
    std::string text;
    for (const auto& line : Text) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    throw EIdReplyRFCError(NumericCode(), text);
}
