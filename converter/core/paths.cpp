#include "paths.h"

namespace vellumate {

std::string ResolvePath(std::string_view path, std::string_view base, std::string_view programPath) {
    if (!path.empty() && path.front() == '/') return std::string(path);
    if (path.starts_with("./")) path.remove_prefix(2);
    if (base.empty()) base = programPath;
    // The base folder keeps everything before the last "/"; a base without
    // one has no folder to resolve against.
    size_t slash = base.rfind('/');
    if (slash == std::string_view::npos) return {};
    std::string folder(base.substr(0, slash));
    while (path.starts_with("../")) {
        path.remove_prefix(3);
        size_t up = folder.rfind('/');
        if (up == std::string::npos) return {};  // above the root
        folder.erase(up);
    }
    return folder + "/" + std::string(path);
}

std::string FileNamePart(std::string_view path) {
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FolderPart(std::string_view path) {
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string DisplayName(std::string_view path) {
    std::string name = FileNamePart(path);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::optional<std::string> LowerExtension(std::string_view path) {
    std::string name = FileNamePart(path);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::nullopt;
    return ToLowerAscii(std::string_view(name).substr(dot + 1));
}

}  // namespace vellumate
