#include "driver_setup/install/cable_install.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "unit/driver_setup/setup_fakes.h"
#include "unit/install/fake_device_installer.h"

namespace quorle::setup {
namespace {

using namespace std::string_literals;
using testing::FakeDevice;
using testing::FakeDeviceInstaller;
using testing::kConfigRetNoSuchDevnode;
using testing::Op;
using Log = std::vector<std::string>;

constexpr DevNodeStatus kStarted{.config_ret = 0, .status = kDevNodeStarted, .problem = 0};
constexpr std::uint32_t kSetupApiNoInf = 0xE000020B;  // ERROR_NO_INF, SetupAPI's own range

FakeDevice device(std::u16string ids, std::uint32_t dev_inst, DevNodeStatus node = kStarted) {
    return {.hardware_ids = std::move(ids),
            .hardware_ids_error = {},
            .dev_inst = dev_inst,
            .node = node};
}

SetupResult success(bool restart) {
    return SetupSuccess{.restart_required = restart};
}
SetupResult failure(std::string message) {
    return SetupFailure{std::move(message)};
}
const SetupResult kNotHealthy = failure(std::string(kCableNotHealthyMessage));

Log join(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Log kOpened = {"read_inf_class", "open_present_devices"};
// Member 0 lists the identity: its node status decides, and only the class set was open.
const Log kFirstMemberJudged = {"read_inf_class",     "open_present_devices",
                                "class set: enum 0",  "class set: read_hardware_ids 0",
                                "devnode_status 100", "destroy class set"};

// Fetching and reading members 0..count-1 without a match, then the end of the list.
Log scan_without_match(std::uint32_t count) {
    Log log;
    for (std::uint32_t i = 0; i < count; ++i) {
        log.push_back("class set: enum " + std::to_string(i));
        log.push_back("class set: read_hardware_ids " + std::to_string(i));
    }
    log.push_back("class set: enum " + std::to_string(count));
    return log;
}

// The creation steps up to and including `last`, then the sets destroyed in order.
Log creation_until(const std::string& last) {
    const Log steps = {"create_device_list", "creation list: create_device_info",
                       "creation list: write_hardware_ids", "creation list: register",
                       "update_driver"};
    Log log;
    for (const std::string& step : steps) {
        log.push_back(step);
        if (step == last) break;
    }
    if (last != "create_device_list") log.push_back("destroy creation list");
    log.push_back("destroy class set");
    return log;
}

// The private temporary folder, made before the first installer call and removed after the
// last one.
const Log kTempMade = {"create_private_folder", "point_temp_environment"};
const Log kTempRemoved = {"remove_private_folder"};

struct Row {
    const char* name;
    std::function<void(FakeDeviceInstaller&)> script;
    SetupResult result;
    Log log;                 // between the temporary folder's preparation and its removal
    bool whole_log = false;  // `log` is the whole log: the folder's preparation failed
};

TEST(InstallCableDriver, ScriptedMachines) {
    const Row rows[] = {
        // --- the private temporary folder ---
        {"private temporary folder not made (its name exists already)",
         [](auto& f) { f.failures[Op::kCreatePrivateFolder] = 183; },
         failure("private temporary folder: Windows error 183"),
         {"create_private_folder"},
         true},
        {"temporary variables not set: the folder is removed again",
         [](auto& f) { f.failures[Op::kPointTempEnvironment] = 8; },
         failure("temporary folder environment: Windows error 8"), join({kTempMade, kTempRemoved}),
         true},

        // --- failures before any set is open ---
        {"missing INF",
         [](auto& f) { f.failures[Op::kReadInfClass] = kErrorFileNotFound; },
         failure("read signed INF: Windows error 2"),
         {"read_inf_class"}},
        {"SetupAPI's own error range prints unsigned",
         [](auto& f) { f.failures[Op::kReadInfClass] = kSetupApiNoInf; },
         failure("read signed INF: Windows error 3758096907"),
         {"read_inf_class"}},
        {"class set refused", [](auto& f) { f.failures[Op::kOpenPresentDevices] = 5; },
         failure("enumerate audio adapters: Windows error 5"), kOpened},

        // --- the existing-device search ---
        {"member fetch fails after a member without the identity",
         [](auto& f) {
             f.present_devices = {device(u"PCI\\VEN_8086\0\0"s, 100)};
             f.enum_failure = std::pair{1u, 0xFFFFFFFFu};
         },
         failure("enumerate adapter: Windows error 4294967295"),
         join({kOpened, scan_without_match(1), {"destroy class set"}})},
        {"healthy device, identity in lower case",
         [](auto& f) { f.present_devices = {device(u"vbaudiovacwdm\0\0"s, 100)}; }, success(false),
         kFirstMemberJudged},
        {"healthy device, identity as the second entry",
         [](auto& f) {
             f.present_devices = {device(u"ROOT\\VBAudioVACWDM\0VBAudioVACWDM\0\0"s, 100)};
         },
         success(false), kFirstMemberJudged},
        {"identity found on the third member",
         [](auto& f) {
             f.present_devices = {device(u"A\0\0"s, 100), device(u"B\0\0"s, 101),
                                  device(u"VBAUDIOVACWDM\0\0"s, 102)};
         },
         success(false),
         join({kOpened,
               scan_without_match(2),
               {"class set: read_hardware_ids 2", "devnode_status 102", "destroy class set"}})},
        {"near misses by length do not match, so the cable is created",
         [](auto& f) {
             f.present_devices = {
                 device(u"VBAudioVACWDMX\0VBAudioVACWD\0 VBAudioVACWDM\0\0"s, 100)};
         },
         success(false), join({kOpened, scan_without_match(1), creation_until("update_driver")})},
        {"a member whose hardware ids cannot be read is skipped",
         [](auto& f) {
             FakeDevice unreadable = device(u"VBAudioVACWDM\0\0"s, 100);
             unreadable.hardware_ids_error = kErrorInsufficientBuffer;
             f.present_devices = {unreadable};
         },
         success(false), join({kOpened, scan_without_match(1), creation_until("update_driver")})},
        {"the buffer is cleared between members",
         [](auto& f) {
             // Had the first member's text stayed in the buffer, the second one's shorter
             // list would leave "VBAudioVACWDM" standing after its own terminator.
             f.present_devices = {device(u"XXVBAudioVACWDM\0\0"s, 100), device(u"X\0"s, 101)};
         },
         success(false), join({kOpened, scan_without_match(2), creation_until("update_driver")})},
        {"device with a problem number",
         [](auto& f) {
             f.present_devices = {device(
                 u"VBAudioVACWDM\0\0"s, 100,
                 {.config_ret = 0, .status = kDevNodeStarted | kDevNodeHasProblem, .problem = 22})};
         },
         kNotHealthy, kFirstMemberJudged},
        {"DN_HAS_PROBLEM without a problem number",
         [](auto& f) {
             f.present_devices = {
                 device(u"VBAudioVACWDM\0\0"s, 100,
                        {.config_ret = 0, .status = kDevNodeStarted | kDevNodeHasProblem})};
         },
         kNotHealthy, kFirstMemberJudged},
        {"a stale problem number without DN_HAS_PROBLEM changes nothing",
         [](auto& f) {
             f.present_devices = {
                 device(u"VBAudioVACWDM\0\0"s, 100,
                        {.config_ret = 0, .status = kDevNodeStarted, .problem = 22})};
         },
         success(false), kFirstMemberJudged},
        {"device not started",
         [](auto& f) {
             f.present_devices = {device(u"VBAudioVACWDM\0\0"s, 100,
                                         {.config_ret = 0, .status = 0x7, .problem = 0})};
         },
         kNotHealthy, kFirstMemberJudged},
        {"status query fails",
         [](auto& f) {
             f.present_devices = {
                 device(u"VBAudioVACWDM\0\0"s, 100,
                        {.config_ret = 0x0D, .status = kDevNodeStarted, .problem = 0})};
         },
         kNotHealthy, kFirstMemberJudged},
        {"two matching devices: only the first, healthy one is judged",
         [](auto& f) {
             f.present_devices = {
                 device(u"VBAudioVACWDM\0\0"s, 100),
                 device(u"VBAudioVACWDM\0\0"s, 101, {.config_ret = 0, .status = 0, .problem = 10})};
         },
         success(false), kFirstMemberJudged},
        {"two matching devices: only the first, unhealthy one is judged",
         [](auto& f) {
             f.present_devices = {
                 device(u"VBAudioVACWDM\0\0"s, 100, {.config_ret = 0, .status = 0, .problem = 10}),
                 device(u"VBAudioVACWDM\0\0"s, 101)};
         },
         kNotHealthy, kFirstMemberJudged},

        // --- creation, every step failing in turn ---
        {"creation list refused", [](auto& f) { f.failures[Op::kCreateDeviceList] = 5; },
         failure("create device list: Windows error 5"),
         join({kOpened, scan_without_match(0), creation_until("create_device_list")})},
        {"device element refused", [](auto& f) { f.failures[Op::kCreateDeviceInfo] = 0xE0000217; },
         failure("create cable device: Windows error 3758096919"),
         join({kOpened, scan_without_match(0),
               creation_until("creation list: create_device_info")})},
        {"hardware identity refused", [](auto& f) { f.failures[Op::kWriteHardwareIds] = 5; },
         failure("set cable hardware identity: Windows error 5"),
         join({kOpened, scan_without_match(0),
               creation_until("creation list: write_hardware_ids")})},
        {"registration refused", [](auto& f) { f.failures[Op::kRegisterDevice] = 1460; },
         failure("register cable device: Windows error 1460"),
         join({kOpened, scan_without_match(0), creation_until("creation list: register")})},
        {"driver update fails: the device is removed and the update's code reported",
         [](auto& f) { f.failures[Op::kUpdateDriver] = 5; },
         failure("install signed cable: Windows error 5"),
         join({kOpened,
               scan_without_match(0),
               {"create_device_list", "creation list: create_device_info",
                "creation list: write_hardware_ids", "creation list: register", "update_driver",
                "creation list: remove", "destroy creation list", "destroy class set"}})},
        {"driver update fails and so does the removal",
         [](auto& f) {
             f.failures[Op::kUpdateDriver] = 0xE000022B;
             f.failures[Op::kRemoveDevice] = 87;
         },
         failure("install signed cable: Windows error 3758096939"),
         join({kOpened,
               scan_without_match(0),
               {"create_device_list", "creation list: create_device_info",
                "creation list: write_hardware_ids", "creation list: register", "update_driver",
                "creation list: remove", "destroy creation list", "destroy class set"}})},

        // --- successful installation ---
        {"installed, no restart", [](auto&) {}, success(false),
         join({kOpened, scan_without_match(0), creation_until("update_driver")})},
        {"installed, Windows asks for a restart", [](auto& f) { f.reboot_required = true; },
         success(true), join({kOpened, scan_without_match(0), creation_until("update_driver")})},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeDeviceInstaller fake;
        row.script(fake);
        EXPECT_EQ(install_cable_driver(fake, "drivers/vbcable"), row.result);
        EXPECT_EQ(fake.log, row.whole_log ? row.log : join({kTempMade, row.log, kTempRemoved}));
        EXPECT_EQ(fake.open_sets, 0);
    }
}

// The driver update finds nothing better than the driver Plug and Play has already put on
// the new device (the package is still staged): the device's status after pending
// installations decides whether it stays.
TEST(InstallCableDriver, NothingNewerToInstall) {
    const Log judged = {"update_driver", "wait_no_pending_installs 10000", "devnode_status 2304"};
    const Log kept = join({judged, {"destroy creation list", "destroy class set"}, kTempRemoved});
    const Log removed =
        join({judged,
              {"creation list: remove", "destroy creation list", "destroy class set"},
              kTempRemoved});
    const SetupResult rolled_back = failure("install signed cable: Windows error 259");
    struct NoMoreItemsRow {
        const char* name;
        DevNodeStatus node;
        std::uint32_t wait_result;
        SetupResult result;
        Log tail;
    };
    const NoMoreItemsRow rows[] = {
        {"started without a problem", {0, kDevNodeStarted, 0}, kWaitObject0, success(false), kept},
        {"started, the wait timed out",
         {0, kDevNodeStarted, 0},
         kWaitTimeout,
         success(false),
         kept},
        {"started, the wait failed", {0, kDevNodeStarted, 0}, kWaitFailed, success(false), kept},
        {"started with a stale restart problem number",
         {0, kDevNodeStarted, kProblemNeedsRestart},
         kWaitObject0,
         success(false),
         kept},
        {"started, needs a restart",
         {0, kDevNodeStarted | kDevNodeNeedsRestart, 0},
         kWaitObject0,
         success(true),
         kept},
        {"restart problem",
         {0, kDevNodeHasProblem, kProblemNeedsRestart},
         kWaitObject0,
         success(true),
         kept},
        {"not started", {0, 0, 0}, kWaitObject0, rolled_back, removed},
        {"DN_HAS_PROBLEM without a problem number",
         {0, kDevNodeStarted | kDevNodeHasProblem, 0},
         kWaitObject0,
         rolled_back,
         removed},
        // The wait ran out or failed: Plug and Play may still be setting the device up. A
        // decided status stands; an undecided one keeps the device for a restart to finish.
        {"still being set up, the wait timed out", {0, 0, 0}, kWaitTimeout, success(true), kept},
        {"still being set up, the wait failed", {0, 0, 0}, kWaitFailed, success(true), kept},
        {"a problem flagged, the wait timed out",
         {0, kDevNodeHasProblem, 28},
         kWaitTimeout,
         success(true),
         kept},
        {"status query fails, the wait timed out",
         {kConfigRetNoSuchDevnode, 0, 0},
         kWaitTimeout,
         success(true),
         kept},
        {"needs a restart, the wait failed",
         {0, kDevNodeStarted | kDevNodeNeedsRestart, 0},
         kWaitFailed,
         success(true),
         kept},
        {"started bit with another problem",
         {0, kDevNodeStarted | kDevNodeHasProblem, 28},
         kWaitObject0,
         rolled_back,
         removed},
        {"status query fails",
         {kConfigRetNoSuchDevnode, kDevNodeStarted, 0},
         kWaitObject0,
         rolled_back,
         removed},
    };
    const Log head = join({kTempMade,
                           {"read_inf_class", "open_present_devices", "class set: enum 0",
                            "create_device_list", "creation list: create_device_info",
                            "creation list: write_hardware_ids", "creation list: register"}});
    for (const NoMoreItemsRow& row : rows) {
        SCOPED_TRACE(row.name);
        FakeDeviceInstaller fake;
        fake.failures[Op::kUpdateDriver] = kErrorNoMoreItems;
        fake.created_node = row.node;
        fake.pending_wait_result = row.wait_result;
        EXPECT_EQ(install_cable_driver(fake, "drivers/vbcable"), row.result);
        EXPECT_EQ(fake.log, join({head, row.tail}));
        EXPECT_EQ(fake.open_sets, 0);
    }

    // Any other failed update is rolled back at once, however the device looks.
    FakeDeviceInstaller other;
    other.failures[Op::kUpdateDriver] = kErrorAccessDenied;
    other.created_node = {0, kDevNodeStarted, 0};
    EXPECT_EQ(install_cable_driver(other, "drivers/vbcable"),
              failure("install signed cable: Windows error 5"));
    EXPECT_EQ(other.log, join({head,
                               {"update_driver", "creation list: remove", "destroy creation list",
                                "destroy class set"},
                               kTempRemoved}));
}

TEST(InstallCableDriver, PassesTheInfClassIdentityAndPathsToThePlatform) {
    FakeDeviceInstaller fake;
    fake.inf_class_guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    fake.inf_class_name = u"VBAudioClass";
    ASSERT_EQ(install_cable_driver(fake, "drivers/vbcable"), success(false));

    const std::u16string inf =
#ifdef _WIN32
        u"drivers/vbcable\\vbMmeCable64_win10.inf\0"s;
#else
        u"drivers/vbcable/vbMmeCable64_win10.inf\0"s;
#endif
    EXPECT_EQ(fake.read_inf_path, inf);
    EXPECT_EQ(fake.update_inf_path, inf);
    EXPECT_EQ(fake.set_classes, (std::vector<ClassGuid>{fake.inf_class_guid, fake.inf_class_guid}));
    EXPECT_EQ(fake.created_device_class, fake.inf_class_guid);
    EXPECT_EQ(fake.created_device_name, u"VBAudioClass\0"s);
    EXPECT_EQ(fake.written_hardware_ids, u"VBAudioVACWDM\0\0"s);
    EXPECT_EQ(fake.written_hardware_ids.size() * sizeof(char16_t), 30u);
    EXPECT_EQ(fake.update_hardware_id, u"VBAudioVACWDM\0"s);

    // The private temporary folder: its descriptor, and the very folder made is the one the
    // variables name and the one removed.
    EXPECT_EQ(fake.private_folder_sddl, u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)\0"s);
    const std::u16string made = std::u16string(testing::kFakePrivateFolder) + u'\0';
    EXPECT_EQ(fake.temp_environment, made);
    EXPECT_EQ(fake.removed_folder, made);
}

// The installation names the driver folder by the final path of the folder that the check
// holds, not by the name that led to it.
TEST(InstallCableDriver, FromTheHeldDriverFolder) {
    struct HeldRow {
        const char* name;
        std::expected<std::filesystem::path, std::uint32_t> final_path;
        SetupResult result;
        std::u16string inf_path;  // as the installer gets it; empty when it is not called
    };
    const HeldRow rows[] = {
        {"the held folder's final path",
         std::filesystem::path(u8"D:\\real\\Qu\u00f6rle\\drivers\\vbcable"), success(false),
#ifdef _WIN32
         u"D:\\real\\Qu\u00f6rle\\drivers\\vbcable\\vbMmeCable64_win10.inf\0"s},
#else
         u"D:\\real\\Qu\u00f6rle\\drivers\\vbcable/vbMmeCable64_win10.inf\0"s},
#endif
        {"no final path: nothing is asked of the installer", std::unexpected(6u),
         failure("driver folder final path: Windows error 6"), u""s},
    };
    for (const HeldRow& row : rows) {
        SCOPED_TRACE(row.name);
        testing::FakeFileReader held;
        held.final_path = row.final_path;
        FakeDeviceInstaller fake;
        EXPECT_EQ(install_held_cable_driver(held, fake), row.result);
        EXPECT_EQ(fake.read_inf_path, row.inf_path);
        EXPECT_EQ(fake.update_inf_path, row.inf_path);
        EXPECT_EQ(fake.log.empty(), row.inf_path.empty());
        EXPECT_EQ(held.calls, Log{"final path"});
    }
}

TEST(InstallCableDriver, PathAndClassNameEdges) {
    // A non-ASCII folder reaches the platform as UTF-16.
    FakeDeviceInstaller fake;
    ASSERT_EQ(install_cable_driver(fake, u8"Ünïcode folder/Öl"), success(false));
    EXPECT_NE(fake.read_inf_path.find(u"Ünïcode folder/Öl"), std::u16string::npos);
    EXPECT_EQ(fake.read_inf_path.back(), u'\0');

    // A class name that fills the whole buffer without a terminator is passed on with
    // one added, and nothing beyond the buffer is read.
    FakeDeviceInstaller full;
    full.inf_class_name.assign(kClassNameUnits + 10, u'C');
    ASSERT_EQ(install_cable_driver(full, "d"), success(false));
    EXPECT_EQ(full.created_device_name, std::u16string(kClassNameUnits, u'C') + u'\0');
}

}  // namespace
}  // namespace quorle::setup
