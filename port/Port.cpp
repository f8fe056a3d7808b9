#include "port/Port.h"

namespace brevomat {

ClosedPortBackend& ClosedPortBackend::Instance() {
  static ClosedPortBackend instance;
  return instance;
}

}  // namespace brevomat
