#ifndef PULVO_PLV_EXCEPTION_H
#define PULVO_PLV_EXCEPTION_H

#include <cstring>
#include <exception>
#include <string>

// The front end's own exception, raised when a parameter set cannot be built.
class PLV_exception : public std::exception {
 public:
  explicit PLV_exception(const std::string& text) : message(text) {}
  const char* what() const noexcept override { return message.c_str(); }
  // The message, ": " and the C library's text for the (always 0) error number.
  std::string toString() const { return message + ": " + std::strerror(-errorNumber); }

 private:
  std::string message;
  int errorNumber = 0;
};

#endif  // PULVO_PLV_EXCEPTION_H
