// Judging entry names before anything is written for them (see entry_path.h).
#include "archive/entry_path.h"

#include "base/cp932.h"

namespace pak {

namespace {

bool onlyDotsAndSpaces(const std::string& component) {
    return component.find_first_not_of(". ") == std::string::npos;
}

} // namespace

EntryPath entryPath(const std::string& name) {
    EntryPath path;
    if (name.empty()) {
        path.refusal = "its name is empty";
        return path;
    }
    if (name[0] == '\\' || name[0] == '/') {
        path.refusal = "its name is an absolute path";
        return path;
    }
    std::string component;
    auto finish = [&]() {
        if (component.empty() || component == ".") {
            component.clear();
            return true;
        }
        if (onlyDotsAndSpaces(component)) {
            path.refusal = "its name has a '..' component";
            return false;
        }
        path.components.push_back(component);
        component.clear();
        return true;
    };
    const char* p = name.c_str();
    const char* end = p + name.size();
    while (p < end) {
        if (*p == '\0') {
            path.refusal = "its name holds a NUL byte";
            return path;
        }
        int length = cp932::characterLength(p);
        if (length == 1 && (*p == '\\' || *p == '/')) {
            if (!finish()) return path;
        } else if (length == 1 && *p == ':') {
            path.refusal = p == name.c_str() + 1 ? "its name carries a drive"
                                                 : "its name holds a colon (a drive or a stream)";
            return path;
        } else {
            component.append(p, static_cast<std::size_t>(length));
        }
        p += length;
    }
    if (!finish()) return path;
    if (path.components.empty()) path.refusal = "its name has no file name in it";
    return path;
}

bool storedNameBefore(const std::string& a, const std::string& b) {
    int order = cp932::compareNoCase(a.c_str(), b.c_str());
    return order != 0 ? order < 0 : a < b;
}

} // namespace pak
