#include "port/port_operation.h"

#include <system_error>

#include "port/ecomport.h"

namespace velmora::port {

PPortOperation NewPortOperation() {
  auto operation = std::make_unique<TPortOperation>();
  int error = 0;
  operation->CompletionEvent = platform::Event::Create(true, true, &error);
  if (!operation->CompletionEvent)
    throw std::system_error(error, std::generic_category(), "no event for a port operation");
  operation->Overlapped.event = operation->CompletionEvent.get();
  return operation;
}

void FreePortOperation(PPortOperation& operation) { operation.reset(); }

int OperationErrorCode(const TPortOperation& operation) {
  return operation.Kind == opWrite ? kErrWriteFile : kErrReadFile;
}

}  // namespace velmora::port
