#include "support/registry_paths.h"

namespace vz {

const WCHAR kPerflibKeyPath[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";

WString ServiceKeyPath(const WCHAR* applicationName) {
    WString path(u"SYSTEM\\CurrentControlSet\\Services\\");
    path.Append(applicationName != nullptr ? applicationName : u"");
    return path;
}

WString PerformanceKeyPath(const WCHAR* applicationName) {
    WString path = ServiceKeyPath(applicationName);
    path.Append(u"\\Performance");
    return path;
}

WString PerflibLanguageKeyPath(const WCHAR* code, std::size_t codeLength) {
    WString path(kPerflibKeyPath);
    path.AppendChar(u'\\');
    path.Append(code, codeLength);
    return path;
}

}  // namespace vz
