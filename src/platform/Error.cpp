#include "platform/Error.h"

#include <system_error>

namespace vellorin {

Error Error::fromErrno(int errnum) {
    return Error{QStringLiteral("NSPOSIXErrorDomain"), errnum,
                 QString::fromStdString(std::error_code(errnum, std::generic_category()).message())};
}

} // namespace vellorin
