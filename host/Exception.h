#pragma once
// Root of every error the program raises, and the general runtime errors
// (range, overflow, conversion, operating-system, abort) that any layer may raise.

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message = {}) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    int HelpContext() const noexcept { return 0; }

private:
    std::string message_;
};

// Declares an error class that only narrows its base.
#define VYK_DECLARE_EXCEPTION(Name, Base)                                                          \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
    }

// Silent abort: the error display shows nothing for it.
VYK_DECLARE_EXCEPTION(EAbort, Exception);

// Declares an error class that always carries the same text. Only for classes
// without subclasses, whose default constructor would inherit the text.
#define VYK_DECLARE_EXCEPTION_TEXT(Name, Base, Text)                                               \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        Name() : Base(Text) {}                                                                     \
    }

VYK_DECLARE_EXCEPTION_TEXT(ERangeError, Exception, "Range check error");
VYK_DECLARE_EXCEPTION_TEXT(EIntOverflow, Exception, "Integer overflow");

class EConvertError : public Exception {
public:
    using Exception::Exception;
    // "'%s' is not a valid integer value"
    static EConvertError InvalidInteger(const std::string& text);
};

class EOSError : public Exception {
public:
    // "System Error.  Code: %d.\r\n%s" with the platform's text for the code.
    explicit EOSError(std::uint32_t code);
    EOSError(std::uint32_t code, const std::string& text);
    std::uint32_t ErrorCode() const noexcept { return code_; }

private:
    std::uint32_t code_;
};

// printf-style formatting with fixed English number settings.
std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// Raises ERangeError unless low <= value <= high.
template <typename T, typename U, typename V> void CheckRange(T value, U low, V high) {
    if (value < static_cast<T>(low) || value > static_cast<T>(high)) throw ERangeError();
}
