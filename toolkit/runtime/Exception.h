#pragma once

#include <exception>
#include <string>

// Base of every error the program raises. The message is the fixed text the
// user sees in the error box, so each subclass builds it from one format.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const std::string& Message() const { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// `Cannot open file "%s". %s`: full path, then the system's text for the error.
class EFOpenError : public EStreamError {
public:
    EFOpenError(const std::string& fileName, int systemError);

protected:
    EFOpenError(const std::string& fileName, const std::string& reason);
};

// `Cannot create file "%s". %s`. SystemError keeps the errno, for callers
// that report file failures by their own codes.
class EFCreateError : public EStreamError {
public:
    EFCreateError(const std::string& fileName, int systemError);
    int SystemError;

protected:
    EFCreateError(const std::string& fileName, int systemError, const std::string& reason);
};

// What a file name leads to is not a file we may replace or read: a device,
// a FIFO, a socket, or a symbolic link to a missing file where none may be
// made. Writing: `Cannot create file "%s". %s`; reading (EFOpenNotRegular):
// `Cannot open file "%s". %s`; the reason is one of the Reason texts.
enum class TNotRegularReason {
    NotRegular,  // "Not a regular file"
    DanglingLink // "Symbolic link to a missing file"
};

class ENotRegularFile : public EFCreateError {
public:
    ENotRegularFile(const std::string& fileName, TNotRegularReason reason);
    TNotRegularReason Reason;
};

class EFOpenNotRegular : public EFOpenError {
public:
    explicit EFOpenNotRegular(const std::string& fileName);
};

class EReadError : public EStreamError {
public:
    EReadError() : EStreamError("Stream read error") {}
};

class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError("Stream write error") {}
};

// An operation that the object's state does not allow, such as text beyond
// a memo's capacity.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// An I/O failure reported with the runtime's numeric code, e.g. "I/O error 103".
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};
