#pragma once
// The rules by which the Windows file reader judges what it holds and names: which reparse
// points it refuses, and the form of a held folder's final path handed to the installer.
// Decided on plain values so that the rules are the same, and tested, on every platform.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorle::setup {

// Reparse tags that name another file (symbolic links, junctions) carry this bit
// (IsReparseTagNameSurrogate). Others (cloud placeholders, deduplicated or compressed files)
// keep the file where it is and only change how its data is stored.
inline constexpr std::uint32_t kReparseTagNameSurrogateBit = 0x20000000;

[[nodiscard]] constexpr bool is_name_surrogate(std::uint32_t reparse_tag) {
    return (reparse_tag & kReparseTagNameSurrogateBit) != 0;
}

// What the platform reports about one opened file or folder. The handle is opened at the
// name itself (FILE_FLAG_OPEN_REPARSE_POINT), so on Windows a reparse point at the name is
// the handle's own; a name that shows a reparse point while its handle does not was followed
// on opening, which only a link can be (Wine opens the target of a host symbolic link even
// when told not to, and shows the link in the name's attributes alone).
struct ReparseFacts {
    bool handle_is_reparse_point = false;  // FILE_ATTRIBUTE_REPARSE_POINT of the handle
    std::uint32_t handle_reparse_tag = 0;  // its tag (FileAttributeTagInfo)
    bool name_is_reparse_point = false;    // FILE_ATTRIBUTE_REPARSE_POINT of the name
};

// True for a name surrogate, whether the handle is the reparse point itself or it was
// followed: what is held would then be reached by a name that can be re-pointed later.
[[nodiscard]] constexpr bool refuses_reparse_point(const ReparseFacts& facts) {
    if (facts.handle_is_reparse_point) return is_name_surrogate(facts.handle_reparse_tag);
    return facts.name_is_reparse_point;
}

// MAX_PATH: the buffers the INF functions are documented with, terminating NUL included.
inline constexpr std::size_t kMaxPathUnits = 260;

// A final path (GetFinalPathNameByHandleW with VOLUME_NAME_DOS, so "\\?\C:\..." or
// "\\?\UNC\server\share\...") in the plain form ("C:\..." or "\\server\share\...") when that
// form, with its terminating NUL, fits MAX_PATH; otherwise unchanged, since only the prefixed
// form names a longer path. Any other text (another namespace, such as a volume GUID path)
// is returned unchanged.
[[nodiscard]] std::u16string plain_final_path(std::u16string_view final_path);

}  // namespace quorle::setup
