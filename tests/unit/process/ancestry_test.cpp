#include "audio_host/process/ancestry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorle::host {
namespace {

constexpr const char* kNotParent = "excluded PID must be the helper's parent application";
constexpr const char* kParentGone = "parent process is no longer present";
constexpr const char* kTargetGone = "selected process is no longer present";
constexpr const char* kInsideOrAbove =
    "selected process tree includes the translator or belongs to it";
constexpr const char* kCyclic = "cyclic process ancestry";

CaptureRequest request_for(std::optional<std::uint32_t> target, std::uint32_t excluded) {
    CaptureRequest request;
    request.excluded_pid = excluded;
    if (target) {
        request.target = ProcessTarget{*target};
        request.expected_exe = "C:\\Apps\\player.exe";
        request.expected_start = 1;
    } else {
        request.target = SystemTarget{};
    }
    return request;
}

TEST(CheckAncestry, DecidesByTheRulesInOrder) {
    struct Row {
        const char* name;
        ProcessMap map;
        std::optional<std::uint32_t> target;  // empty: system capture
        std::uint32_t excluded;
        std::uint32_t own;
        const char* message;  // null: allowed
    };
    const Row rows[] = {
        {"target above the translator", {{10, 0}, {20, 10}, {30, 20}}, 10, 20, 30, kInsideOrAbove},
        {"target is the translator", {{10, 0}, {20, 10}, {30, 20}}, 20, 20, 30, kInsideOrAbove},
        {"target is the host itself", {{20, 10}, {30, 20}}, 30, 20, 30, kInsideOrAbove},
        {"target is a grandchild of the translator",
         {{20, 10}, {30, 20}, {35, 20}, {36, 35}},
         36,
         20,
         30,
         kInsideOrAbove},
        {"target is the translator's grandparent",
         {{5, 0}, {10, 5}, {20, 10}, {30, 20}},
         5,
         20,
         30,
         kInsideOrAbove},
        {"unrelated target whose parent is unknown",
         {{20, 10}, {30, 20}, {40, 5}},
         40,
         20,
         30,
         nullptr},
        {"unrelated target in a cycle",
         {{20, 10}, {30, 20}, {40, 50}, {50, 40}},
         40,
         20,
         30,
         kCyclic},
        {"target self-parented", {{20, 10}, {30, 20}, {40, 40}}, 40, 20, 30, kCyclic},
        {"cycle above the translator, not through the target",
         {{20, 21}, {21, 22}, {22, 21}, {30, 20}, {40, 1}},
         40,
         20,
         30,
         kCyclic},
        {"cycle elsewhere in the map does not matter",
         {{20, 10}, {30, 20}, {40, 1}, {60, 61}, {61, 60}},
         40,
         20,
         30,
         nullptr},
        {"parent id 0 ends the walks",
         {{0, 0}, {4, 0}, {20, 4}, {30, 20}, {50, 0}},
         50,
         20,
         30,
         nullptr},
        {"root with parent 0 above the translator",
         {{0, 0}, {4, 0}, {20, 4}, {30, 20}},
         4,
         20,
         30,
         kInsideOrAbove},
        {"sibling of the host", {{20, 10}, {30, 20}, {31, 20}}, 31, 20, 30, kInsideOrAbove},
        {"host's parent is another process", {{20, 10}, {25, 1}, {30, 25}}, 40, 20, 30, kNotParent},
        {"host's parent checked before a bogus target", {{30, 25}}, 99, 20, 30, kNotParent},
        {"empty map", {}, std::nullopt, 20, 30, kNotParent},
        {"host missing from the map", {{20, 10}}, std::nullopt, 20, 30, kNotParent},
        {"translator gone", {{30, 20}}, 40, 20, 30, kParentGone},
        {"translator gone, system capture", {{30, 20}}, std::nullopt, 20, 30, kParentGone},
        {"target gone", {{20, 10}, {30, 20}}, 40, 20, 30, kTargetGone},
        {"system capture ignores the rest of the map",
         {{20, 10}, {30, 20}, {40, 50}, {50, 40}},
         std::nullopt,
         20,
         30,
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Status status =
            check_ancestry(row.map, request_for(row.target, row.excluded), row.own);
        if (row.message == nullptr) {
            EXPECT_TRUE(status) << status.error();
        } else {
            ASSERT_FALSE(status);
            EXPECT_EQ(status.error(), row.message);
        }
    }
}

TEST(IsAncestorOrSelf, WalksUpUntilFoundEndOrLoop) {
    struct Row {
        const char* name;
        ProcessMap map;
        std::uint32_t sought;
        std::uint32_t start;
        std::optional<bool> found;  // empty: "cyclic process ancestry"
    };
    const Row rows[] = {
        {"start is the sought id, even outside the map", {}, 7, 7, true},
        {"start is the sought id on a loop", {{7, 7}}, 7, 7, true},
        {"parent", {{7, 3}}, 3, 7, true},
        {"great-grandparent", {{7, 6}, {6, 5}, {5, 4}}, 4, 7, true},
        {"start 0", {{0, 0}}, 0, 0, false},
        {"walk reaches 0", {{7, 0}}, 9, 7, false},
        {"start missing from the map", {{1, 0}}, 1, 7, false},
        {"walk leaves the map", {{7, 6}}, 1, 7, false},
        {"two-process loop", {{7, 8}, {8, 7}}, 1, 7, std::nullopt},
        {"loop found before the loop closes on the sought id",
         {{7, 8}, {8, 9}, {9, 8}},
         9,
         7,
         true},
        {"self-parented start", {{7, 7}}, 1, 7, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Result<bool> result = is_ancestor_or_self(row.map, row.sought, row.start);
        if (row.found) {
            ASSERT_TRUE(result) << result.error();
            EXPECT_EQ(*result, *row.found);
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error(), kCyclic);
        }
    }
}

}  // namespace
}  // namespace quorle::host
