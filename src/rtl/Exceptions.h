// The framework's exception classes: Exception and the descendants the suite raises.
#pragma once

#include <exception>
#include <string>

#include "rtl/System.h"

namespace ktinet {

// The framework's general exception class. Execute of a socket component catches
// this class (and its descendants) and returns the message as its result.
class Exception : public std::exception {
 public:
  explicit Exception(String message) : FMessage(std::move(message)), FWhat(UTF8Encode(FMessage)) {}
  explicit Exception(std::string_view utf8) : Exception(UTF8ToString(utf8)) {}
  explicit Exception(const char* utf8) : Exception(UTF8ToString(utf8)) {}
  ~Exception() override = default;

  const String& Message() const noexcept { return FMessage; }
  void SetMessage(String message) {
    FMessage = std::move(message);
    FWhat = UTF8Encode(FMessage);
  }
  const char* what() const noexcept override { return FWhat.c_str(); }

 private:
  String FMessage;
  std::string FWhat;
};

#define KTINET_EXCEPTION(Name, Base) \
  class Name : public Base {         \
   public:                           \
    using Base::Base;                \
  };

KTINET_EXCEPTION(EAbort, Exception)
KTINET_EXCEPTION(EConvertError, Exception)
KTINET_EXCEPTION(EInOutError, Exception)
KTINET_EXCEPTION(EOSError, Exception)
KTINET_EXCEPTION(EListError, Exception)
KTINET_EXCEPTION(EStringListError, Exception)
KTINET_EXCEPTION(EStreamError, Exception)
KTINET_EXCEPTION(EFileStreamError, EStreamError)
KTINET_EXCEPTION(EFOpenError, EFileStreamError)
KTINET_EXCEPTION(EFCreateError, EFileStreamError)
KTINET_EXCEPTION(EReadError, EStreamError)
KTINET_EXCEPTION(EWriteError, EStreamError)
KTINET_EXCEPTION(EIniFileException, Exception)
KTINET_EXCEPTION(ESocketError, Exception)
KTINET_EXCEPTION(EInvalidGraphic, Exception)
KTINET_EXCEPTION(EInvalidOperation, Exception)
KTINET_EXCEPTION(EComponentError, Exception)
KTINET_EXCEPTION(EPropertyError, Exception)

#undef KTINET_EXCEPTION

}  // namespace ktinet
