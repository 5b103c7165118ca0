#pragma once
// The error type of the whole system: its message is the error text shown to the user.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// Raised by the ordered list for a position outside 0 .. Count - 1.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Raised for an index outside an array.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

// The text of the exception being handled; call only inside a catch block.
std::string CurrentExceptionText() noexcept;
