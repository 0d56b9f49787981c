#pragma once
// Wine hands no QT_* variable of the Linux environment to a Windows program.
// scripts/wine-run passes each as KOBITO_WINE_QT_*; test programs call this
// first thing in main to get them back. Elsewhere it does nothing.
#ifdef _WIN32
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#endif

namespace kobito::test {

inline void RestoreQtEnvironment() {
#ifdef _WIN32
    constexpr char prefix[] = "KOBITO_WINE_";
    std::vector<std::string> found;
    for (char** e = _environ; e != nullptr && *e != nullptr; ++e)
        if (std::strncmp(*e, prefix, sizeof prefix - 1) == 0)
            found.emplace_back(*e + sizeof prefix - 1);
    for (const std::string& assignment : found)
        _putenv(assignment.c_str());
#endif
}

} // namespace kobito::test
