#pragma once
// A numeric reply of a command/reply protocol: a three-digit code and its text lines.

#include <string>
#include <vector>

class TIdReplyRFC {
public:
    // Raises EIdException "Reply Code is not valid: %s" for a code that is not three digits.
    void SetCode(const std::string& code);
    const std::string& Code() const { return code_; }
    int NumericCode() const;
    std::vector<std::string> Text;
    void Clear();
    // Raises EIdReplyRFCError with the reply text.
    [[noreturn]] void RaiseReplyError() const;

private:
    std::string code_;
};
