#include "common/errors.h"

#include <new>
#include <stdexcept>

#include "common/text.h"

namespace tindra {

AppError::AppError(int32_t number, std::u16string description)
    : number_(number), description_(std::move(description)) {
  what_ = "Error " + std::to_string(number_) + " (" + Utf16ToUtf8(description_) + ")";
}

std::u16string ErrorDescription(int32_t number) {
  switch (number) {
    case kErrInvalidCall:
      return u"Invalid procedure call or argument";
    case kErrOverflow:
      return u"Overflow";
    case kErrOutOfMemory:
      return u"Out of memory";
    case kErrSubscript:
      return u"Subscript out of range";
    case kErrInternal:
      return u"Internal error";
    case kErrBadFileName:
      return u"Bad file name or number";
    case kErrFileNotFound:
      return u"File not found";
    case kErrDeviceUnavailable:
      return u"Device unavailable";
    case kErrPathNotFound:
      return u"Path not found";
    case kErrInvalidPropertyValue:
      return u"Invalid property value";
    default:
      return u"Application-defined or object-defined error";
  }
}

AppError CurrentError() noexcept {
  try {
    throw;
  } catch (const AppError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return AppError(kErrOutOfMemory, ErrorDescription(kErrOutOfMemory));
  } catch (const std::length_error&) {
    return AppError(kErrOutOfMemory, ErrorDescription(kErrOutOfMemory));
  } catch (const std::exception& e) {
    return AppError(kErrInternal, ErrorDescription(kErrInternal) + u": " + Utf8ToUtf16(e.what()));
  } catch (...) {
    return AppError(kErrInternal, ErrorDescription(kErrInternal));
  }
}

void Raise(int32_t number) { throw AppError(number, ErrorDescription(number)); }

void Raise(int32_t number, std::u16string description) {
  throw AppError(number, std::move(description));
}

std::u16string ErrorMessage(const AppError& e, std::u16string_view procedure,
                            std::u16string_view module) {
  std::u16string text =
      u"Error " + ToDecimal(e.number()) + u" (" + e.description() + u") in procedure ";
  text += procedure;
  text += u" of Module ";
  text += module;
  return text;
}

}  // namespace tindra
