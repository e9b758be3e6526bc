#pragma once
// Shared by the end-to-end test programs.
#include <string>

// A path as the test's command line gives it (a Unix path under Wine) in the form that
// CreateProcessA takes: /a/b becomes Z:\a\b; anything else is left as it is.
inline std::string windows_path(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char &c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
    return path;
}
