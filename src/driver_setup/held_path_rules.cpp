#include "driver_setup/held_path_rules.h"

namespace quorle::setup {
namespace {

// "X:\" with an ASCII letter: the only local form that stays the same path without the prefix.
bool starts_with_drive_root(std::u16string_view path) {
    return path.size() >= 3 &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
           path[1] == u':' && path[2] == u'\\';
}

}  // namespace

std::u16string plain_final_path(std::u16string_view final_path) {
    constexpr std::u16string_view kUncPrefix = u"\\\\?\\UNC\\";
    constexpr std::u16string_view kLocalPrefix = u"\\\\?\\";
    std::u16string plain;
    if (final_path.starts_with(kUncPrefix)) {
        plain = u"\\\\";
        plain += final_path.substr(kUncPrefix.size());
    } else if (final_path.starts_with(kLocalPrefix) &&
               starts_with_drive_root(final_path.substr(kLocalPrefix.size()))) {
        plain = final_path.substr(kLocalPrefix.size());
    } else {
        return std::u16string(final_path);
    }
    if (plain.size() + 1 > kMaxPathUnits) return std::u16string(final_path);
    return plain;
}

}  // namespace quorle::setup
