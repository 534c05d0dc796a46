#include "driver_setup/windows_path_components.h"

namespace quorle::setup {
namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Position just past the next piece starting at `pos` (the first separator or the end).
std::size_t piece_end(std::string_view path, std::size_t pos) {
    while (pos < path.size() && !is_separator(path[pos]))
        ++pos;
    return pos;
}

// Length of a `\\?\`, `\\.\` or `\\server\share` prefix at the start of `path`, or 0.
std::size_t double_separator_prefix(std::string_view path) {
    if (path.size() < 2 || !is_separator(path[0]) || !is_separator(path[1])) return 0;
    if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && is_separator(path[3])) {
        // Verbatim or device namespace: the prefix runs to the end of its first piece.
        return piece_end(path, 4);
    }
    const std::size_t server_end = piece_end(path, 2);
    if (server_end == 2 || server_end == path.size()) return 0;
    const std::size_t share_end = piece_end(path, server_end + 1);
    if (share_end == server_end + 1) return 0;
    return share_end;
}

}  // namespace

std::size_t windows_path_component_count(std::string_view path) {
    std::size_t count = 0;
    std::size_t pos = 0;
    bool rooted = false;
    if (const std::size_t prefix = double_separator_prefix(path); prefix != 0) {
        count += 2;  // the prefix and its implied root
        pos = prefix;
        rooted = true;
    } else if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':') {
        count += 1;  // a drive prefix, relative to that drive's current folder unless rooted
        pos = 2;
    }
    if (!rooted && pos < path.size() && is_separator(path[pos])) {
        count += 1;
        rooted = true;
    }
    const std::size_t body_start = pos;
    while (pos < path.size()) {
        if (is_separator(path[pos])) {
            ++pos;
            continue;
        }
        const std::size_t end = piece_end(path, pos);
        const std::string_view piece = path.substr(pos, end - pos);
        if (piece != ".") {
            count += 1;
        } else if (pos == body_start && !rooted) {
            count += 1;  // a leading `.` names the current folder
        }
        pos = end;
    }
    return count;
}

bool is_single_path_component(std::string_view name) {
    return windows_path_component_count(name) == 1;
}

}  // namespace quorle::setup
