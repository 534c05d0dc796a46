#include "audio/cable/driver_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/cable/multi_string.h"
#include "unit/cable/fake_device_tree.h"

namespace quorle::audio {
namespace {

using testing::FakeDeviceTree;
using testing::FakeNode;
using testing::multi_string;
using testing::StatusReply;

using Calls = std::vector<std::string>;

constexpr NodeStatus kStarted{kNodeStarted, 0};

TEST(MultiString, CutsAtEveryNulAndSkipsEmptyPieces) {
    struct Row {
        std::u16string buffer;
        std::vector<std::u16string> pieces;
    };
    const Row rows[] = {
        {u"", {}},
        {std::u16string(5, u'\0'), {}},
        {std::u16string(u"a\0bc\0\0", 6), {u"a", u"bc"}},
        {std::u16string(u"\0\0a\0\0\0b", 7), {u"a", u"b"}},  // a last piece without its NUL
        {std::u16string(u"ROOT\\X\0VBAudioVACWDM\0\0\0\0", 24), {u"ROOT\\X", u"VBAudioVACWDM"}},
    };
    for (const Row& row : rows) {
        const auto pieces = split_multi_string(row.buffer);
        EXPECT_EQ(std::vector<std::u16string>(pieces.begin(), pieces.end()), row.pieces);
    }
}

TEST(NodeStatusRules, StartedAndNeedsRestart) {
    struct Row {
        ConfigRet result;
        NodeStatus status;
        bool started;
        bool needs_restart;
    };
    const Row rows[] = {
        {kConfigRetSuccess, {kNodeStarted, 0}, true, false},
        {kConfigRetSuccess, {kNodeStarted | 0x2, 0}, true, false},
        {kConfigRetSuccess, {0, 0}, false, false},
        // a problem, though "started"
        {kConfigRetSuccess, {kNodeStarted | kNodeHasProblem, 28}, false, false},
        // the flag alone decides, also without a problem number
        {kConfigRetSuccess, {kNodeStarted | kNodeHasProblem, 0}, false, false},
        {kConfigRetSuccess, {kNodeHasProblem, kProblemNeedsRestart}, false, true},
        // a stale problem number without DN_HAS_PROBLEM means nothing
        {kConfigRetSuccess, {kNodeStarted, 28}, true, false},
        {kConfigRetSuccess, {kNodeStarted, kProblemNeedsRestart}, true, false},
        {kConfigRetSuccess, {0, kProblemNeedsRestart}, false, false},
        {kConfigRetSuccess, {kNodeStarted | kNodeNeedsRestart, 0}, true, true},
        {kConfigRetNoSuchDevnode, {kNodeStarted | kNodeNeedsRestart, 0}, false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(node_started(row.result, row.status), row.started)
            << row.status.status << "/" << row.status.problem << "/" << row.result;
        EXPECT_EQ(node_needs_restart(row.result, row.status), row.needs_restart)
            << row.status.status << "/" << row.status.problem << "/" << row.result;
    }
}

FakeDeviceTree three_devices() {
    FakeDeviceTree tree;
    tree.add({.node = 1, .instance_id = "ROOT\\A"});
    tree.add({.node = 2, .instance_id = "ROOT\\B"});
    tree.add({.node = 3, .instance_id = "ROOT\\C"});
    return tree;
}

TEST(PresentDeviceIds, AttemptsAndMessages) {
    const std::u16string list = three_devices().present_list();
    const std::string units = std::to_string(list.size());
    struct Row {
        const char* name;
        ConfigRet size_result;
        int growths;
        bool ok;
        std::string message;
        Calls calls;
    };
    const Row rows[] = {
        {"first attempt", kConfigRetSuccess, 0, true, "", {"size", "list " + units}},
        {"third attempt",
         kConfigRetSuccess,
         2,
         true,
         "",
         {"size", "list " + units, "size", "list " + units, "size", "list " + units}},
        {"grows every time",
         kConfigRetSuccess,
         3,
         false,
         "Audio devices changed during detection; refresh again",
         {"size", "list " + units, "size", "list " + units, "size", "list " + units}},
        {"size query fails",
         kConfigRetNotImplemented,
         0,
         false,
         "Cannot enumerate Windows audio driver identities",
         {"size"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeDeviceTree tree = three_devices();
        tree.size_result = row.size_result;
        tree.list_growths = row.growths;
        const Result<std::u16string> ids = fetch_present_device_ids(tree);
        ASSERT_EQ(ids.has_value(), row.ok);
        if (row.ok) {
            EXPECT_EQ(*ids, list);
        } else {
            EXPECT_EQ(ids.error(), row.message);
        }
        EXPECT_EQ(tree.calls, row.calls);
    }
}

TEST(PresentDeviceIds, AnyListFailureIsRetriedAndAnEmptyListIsFine) {
    FakeDeviceTree tree = three_devices();
    tree.list_growths = 3;
    tree.list_failure = 0x03;  // CR_INVALID_POINTER
    EXPECT_EQ(fetch_present_device_ids(tree).error(),
              "Audio devices changed during detection; refresh again");

    FakeDeviceTree empty;
    empty.list_override = u"";
    const auto ids = fetch_present_device_ids(empty);
    ASSERT_TRUE(ids.has_value());
    EXPECT_TRUE(ids->empty());
    EXPECT_EQ(empty.calls, (Calls{"size", "list 0"}));
}

TEST(DriverScan, FindsEveryMatchingEntryInListOrder) {
    FakeDeviceTree tree;
    tree.add(
        {.node = 10, .instance_id = "PCI\\VEN_1", .hardware_ids = multi_string({"PCI\\VEN_1"})});
    tree.add({.node = 11,
              .instance_id = "ROOT\\MEDIA\\0000",
              .hardware_ids = multi_string({"ROOT\\MEDIA\\X", "vbaudioVACwdm"})});
    tree.add({.node = 12,
              .instance_id = "ROOT\\MEDIA\\0001",
              .hardware_ids = multi_string({"VBAudioHFVAIO", "VBAudioVACWDM", "VBAudioHFVAIO"}),
              .statuses = {{kConfigRetSuccess, {0, 0}}}});
    tree.add({.node = 13,
              .instance_id = "ROOT\\MEDIA\\0002",
              .hardware_ids = multi_string({"VBAudioVACWD", "VBAudioVACWDM0", " VBAudioVACWDM",
                                            "VBAudioVACWDM\\", "VB-Audio\\VBAudioHFVAIO"})});
    tree.add({.node = 14,
              .instance_id = "ROOT\\NOT_PRESENT",
              .present = false,
              .hardware_ids = multi_string({"VBAudioVACWDM"})});
    const auto ids = fetch_present_device_ids(tree);
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ(scan_driver_devices(tree, *ids),
              (std::vector<DriverDevice>{{"vbaudioVACwdm", 11, true},
                                         {"VBAudioHFVAIO", 12, false},
                                         {"VBAudioVACWDM", 12, false},
                                         {"VBAudioHFVAIO", 12, false}}));
    // The status is read once per matching entry, never for other devices.
    EXPECT_EQ(tree.count("status"), 4u);
    EXPECT_EQ(tree.count("status 13"), 0u);
}

TEST(DriverScan, UnreadableDevicesAreSkipped) {
    FakeDeviceTree tree;
    tree.add({.node = 1,
              .instance_id = "ROOT\\UNLOCATABLE",
              .locate_result = kConfigRetNoSuchDevnode,
              .hardware_ids = multi_string({"VBAudioVACWDM"})});
    tree.add({.node = 2,
              .instance_id = "ROOT\\NO_IDS",
              .hardware_ids = multi_string({"VBAudioVACWDM"}),
              .hardware_ids_result = 0x25});  // CR_NO_SUCH_VALUE
    // An identifier list that does not fit the 4096-byte buffer: the read fails as a whole.
    std::vector<std::string> long_list(300, "ROOT\\SOME_LONG_IDENTIFIER");
    long_list.push_back("VBAudioVACWDM");
    tree.add({.node = 3, .instance_id = "ROOT\\LONG", .hardware_ids = multi_string(long_list)});
    tree.add(
        {.node = 4, .instance_id = "ROOT\\GOOD", .hardware_ids = multi_string({"VBAudioHFVAIO"})});
    const auto ids = fetch_present_device_ids(tree);
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ(scan_driver_devices(tree, *ids),
              (std::vector<DriverDevice>{{"VBAudioHFVAIO", 4, true}}));
    EXPECT_EQ(tree.count("hardware_ids"), 3u);  // not for the device that was not located
}

TEST(DriverScan, IdentifierFillingTheWholeBufferIsStillRead) {
    // 2048 units with no closing NUL: padding identifiers, then the identity in the last
    // 13 units.
    std::u16string ids(2048 - 13, u'\0');
    std::fill(ids.begin(), ids.end() - 1, u'x');
    ids += u"VBAudioVACWDM";
    ASSERT_EQ(ids.size(), 2048u);
    FakeDeviceTree tree;
    tree.add({.node = 5, .instance_id = "ROOT\\FULL", .hardware_ids = ids});
    EXPECT_EQ(scan_driver_devices(tree, tree.present_list()),
              (std::vector<DriverDevice>{{"VBAudioVACWDM", 5, true}}));
}

TEST(DriverScan, IdListCutLikeAnyMultiString) {
    FakeDeviceTree tree;
    tree.add({.node = 7,
              .instance_id = "ROOT\\A",
              .present = false,
              .hardware_ids = multi_string({"VBAudioVACWDM"})});
    // Empty pieces between and after ids, and an id without its NUL at the very end.
    const std::u16string list(u"\0\0ROOT\\A\0\0\0ROOT\\A", 17);
    EXPECT_EQ(scan_driver_devices(tree, list).size(), 2u);
    EXPECT_EQ(tree.count("locate"), 2u);
}

TEST(DriverScan, StatusFailureAtScanTimeMeansNotStarted) {
    FakeDeviceTree tree;
    tree.add({.node = 9,
              .instance_id = "ROOT\\A",
              .hardware_ids = multi_string({"VBAudioVACWDM"}),
              .statuses = {StatusReply{kConfigRetNoSuchDevnode, kStarted}}});
    EXPECT_EQ(scan_driver_devices(tree, tree.present_list()),
              (std::vector<DriverDevice>{{"VBAudioVACWDM", 9, false}}));
}

}  // namespace
}  // namespace quorle::audio
