// The message of a refused byte access.
#include "support/byte_cursor.h"

namespace vz {

std::string DescribeByteRangeFault(const ByteRangeFault& fault, const char* verb) {
    if (!fault.refused) return std::string();
    return std::string(verb) + " of " + std::to_string(fault.count) + " bytes at offset " +
           std::to_string(fault.offset) + " passes the end of the " +
           std::to_string(fault.size) + "-byte range";
}

}  // namespace vz
