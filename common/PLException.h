#pragma once
// The exception that ends a conversation with the center: a message and the
// center result code (detail) to answer with, plus context.

#include <exception>
#include <string>

namespace plx {

class PLException : public std::exception {
public:
    explicit PLException(std::string message) : message_(std::move(message)) {}
    PLException(std::string message, std::string detail) : detail_(std::move(detail)), message_(std::move(message)) {}
    PLException(std::string message, std::string detail, std::string extra1, std::string extra2)
        : detail_(std::move(detail)), message_(std::move(message)), extra1_(std::move(extra1)),
          extra2_(std::move(extra2)) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& detail() const { return detail_; }
    const std::string& message() const { return message_; }
    const std::string& extra1() const { return extra1_; }
    const std::string& extra2() const { return extra2_; }

private:
    std::string detail_;
    std::string message_;
    std::string extra1_;
    std::string extra2_;
};

} // namespace plx
