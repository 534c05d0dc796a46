#include "audio/cable/cable_detection.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/cable/cable_probe.h"
#include "unit/cable/fake_device_tree.h"
#include "unit/cable/fake_form_factor_reader.h"

namespace quorle::audio {

// Readable failures for the report records.
void PrintTo(const CableProbe& probe, std::ostream* os) {
    static constexpr const char* kNames[] = {"NotInstalled", "EndpointsMissing", "RestartRequired",
                                             "Problem", "Ready"};
    *os << kNames[probe.state.index()];
    if (const auto* problem = std::get_if<Problem>(&probe.state)) {
        *os << "(\"" << problem->message << "\")";
    }
    *os << " render=\"" << probe.render_id << "\" capture=\"" << probe.capture_id << "\"";
}

namespace {

using testing::FakeDeviceTree;
using testing::FakeFormFactorReader;
using testing::kHResultFail;
using testing::multi_string;
using testing::StatusReply;

constexpr DevNode kRoot = 1;
constexpr StatusReply kStarted{kConfigRetSuccess, {kNodeStarted, 0}};
constexpr StatusReply kStopped{kConfigRetSuccess, {0, 0}};
constexpr StatusReply kNeedsRestartProblem{kConfigRetSuccess,
                                           {kNodeHasProblem, kProblemNeedsRestart}};
constexpr StatusReply kNeedsRestartBit{kConfigRetSuccess, {kNodeStarted | kNodeNeedsRestart, 0}};
constexpr StatusReply kStatusFails{kConfigRetNoSuchDevnode, {}};

constexpr auto kRender = EndpointDirection::Render;
constexpr auto kCapture = EndpointDirection::Capture;

std::string endpoint_id(std::string_view name) {
    return "{0.0.0.00000000}.{" + std::string(name) + "}";
}

// A described machine: device nodes under one root, endpoints hanging some levels below a
// device, and the endpoint properties Core Audio would report.
class Machine {
  public:
    FakeDeviceTree tree;
    FakeFormFactorReader form_factors;
    std::vector<AudioEndpoint> endpoints;

    Machine() { tree.add({.node = kRoot, .instance_id = "HTREE\\ROOT\\0"}); }

    // A driver device (or any device) directly under the root.
    DevNode device(const std::vector<std::string>& hardware_ids,
                   std::vector<StatusReply> statuses = {kStarted}) {
        const DevNode node = next_++;
        tree.add({.node = node,
                  .instance_id = "ROOT\\MEDIA\\" + std::to_string(node),
                  .parent = kRoot,
                  .hardware_ids = multi_string(hardware_ids),
                  .statuses = std::move(statuses)});
        return node;
    }

    struct EndpointSpec {
        EndpointDirection direction = kRender;
        std::uint16_t channels = 2;
        std::uint32_t rate = 48000;
        int depth = 1;  // levels between the endpoint's node and the device
        std::optional<std::uint32_t> form_factor = 1;  // none: Core Audio does not know the id
    };

    // An endpoint hanging `spec.depth` levels below `device` (0: no device node at all).
    void endpoint(std::string_view name, DevNode device, EndpointSpec spec) {
        const std::string id = endpoint_id(name);
        endpoints.push_back(
            {id, std::string(name), spec.rate, spec.channels, spec.direction, false});
        if (spec.form_factor) form_factors.endpoints[id].form_factor = *spec.form_factor;
        if (device == 0) return;
        DevNode above = device;
        for (int level = 1; level < spec.depth; ++level) {
            const DevNode middle = next_++;
            tree.add({.node = middle,
                      .instance_id = "SWD\\MIDDLE\\" + std::to_string(middle),
                      .parent = above});
            above = middle;
        }
        tree.add({.node = next_++, .instance_id = "SWD\\MMDEVAPI\\" + id, .parent = above});
    }

    // The usual stereo pair of a cable.
    void pair(std::string_view prefix, DevNode device, std::uint32_t render_rate = 48000,
              std::uint32_t capture_rate = 48000) {
        endpoint(std::string(prefix) + "-render", device, {.rate = render_rate});
        endpoint(std::string(prefix) + "-capture", device,
                 {.direction = kCapture, .rate = capture_rate});
    }

    Result<CableReport> detect() {
        ++source_calls;
        return detect_cables(tree, form_factors, [this] {
            ++endpoint_requests;
            return Result<std::vector<AudioEndpoint>>(endpoints);
        });
    }

    int source_calls = 0;
    int endpoint_requests = 0;

  private:
    DevNode next_ = 100;
};

CableProbe not_installed() {
    return {NotInstalled{}, {}, {}};
}
CableProbe missing() {
    return {EndpointsMissing{}, {}, {}};
}
CableProbe restart() {
    return {RestartRequired{}, {}, {}};
}
CableProbe problem(std::string_view message, std::string render = {}, std::string capture = {}) {
    return {Problem{std::string(message)}, std::move(render), std::move(capture)};
}
CableProbe ready(std::string_view render, std::string_view capture) {
    return {Ready{}, endpoint_id(render), endpoint_id(capture)};
}

const std::string kDuplicate(kDuplicateDevicesMessage);
const std::string kNotStarted(kNotStartedMessage);
const std::string kAmbiguous(kAmbiguousEndpointsMessage);

struct MachineRow {
    const char* name;
    std::function<void(Machine&)> build;
    CableProbe vb;
    CableProbe hifi;
};

void run_rows(const std::vector<MachineRow>& rows) {
    for (const MachineRow& row : rows) {
        SCOPED_TRACE(row.name);
        Machine machine;
        row.build(machine);
        const Result<CableReport> report = machine.detect();
        ASSERT_TRUE(report.has_value()) << report.error();
        EXPECT_EQ(report->vb_cable, row.vb);
        EXPECT_EQ(report->hifi_cable, row.hifi);
        EXPECT_EQ(report->endpoints, machine.endpoints);
        EXPECT_EQ(machine.endpoint_requests, 1);
        EXPECT_EQ(machine.form_factors.outstanding(), 0);
    }
}

TEST(CableDetection, DevicesAndHealth) {
    run_rows({
        {"no cable at all",
         [](Machine& m) {
             m.device({"HDAUDIO\\FUNC_01"});
             m.endpoint("speakers", 0, {});
         },
         not_installed(), not_installed()},
        {"both cables ready",
         [](Machine& m) {
             m.pair("vb", m.device({"VBAudioVACWDM"}));
             m.pair("hifi", m.device({"VBAudioHFVAIO"}), 44100, 44100);
         },
         ready("vb-render", "vb-capture"), ready("hifi-render", "hifi-capture")},
        {"identity in the second entry, in mixed case",
         [](Machine& m) {
             m.pair("vb", m.device({"ROOT\\VBAUDIO", "vbAUDIOvacWDM"}));
         },
         ready("vb-render", "vb-capture"), not_installed()},
        {"12- and 14-character near misses",
         [](Machine& m) {
             m.pair("a", m.device({"VBAudioVACWD"}));
             m.pair("b", m.device({"VBAudioVACWDM1", "VBAudioHFVAIOx", "VBAudioHFVAI"}));
         },
         not_installed(), not_installed()},
        {"both identities on one device",
         [](Machine& m) {
             m.pair("both", m.device({"VBAudioHFVAIO", "VBAudioVACWDM"}));
         },
         ready("both-render", "both-capture"), ready("both-render", "both-capture")},
        {"two VB-CABLE devices in different letter case, one of them broken",
         [](Machine& m) {
             m.pair("one", m.device({"VBAudioVACWDM"}));
             m.device({"VBAUDIOVACWDM"}, {kStopped});
         },
         problem(kDuplicate), not_installed()},
        {"one device listing its identity twice is not a duplicate",
         [](Machine& m) {
             m.pair("vb", m.device({"VBAudioVACWDM", "vbaudiovacwdm"}));
         },
         ready("vb-render", "vb-capture"), not_installed()},
        {"restart problem number, even though not started",
         [](Machine& m) {
             m.pair("vb", m.device({"VBAudioVACWDM"}, {kStopped, kNeedsRestartProblem}));
         },
         restart(), not_installed()},
        {"restart status bit",
         [](Machine& m) {
             m.pair("hifi", m.device({"VBAudioHFVAIO"}, {kStarted, kNeedsRestartBit}));
         },
         not_installed(), restart()},
        {"status fails at probe time: the scan's started flag decides (started)",
         [](Machine& m) {
             m.pair("vb", m.device({"VBAudioVACWDM"}, {kStarted, kStatusFails}));
         },
         ready("vb-render", "vb-capture"), not_installed()},
        {"status fails at probe time: the scan's started flag decides (stopped)",
         [](Machine& m) {
             m.pair("vb", m.device({"VBAudioVACWDM"}, {kStopped, kStatusFails}));
         },
         problem(kNotStarted), not_installed()},
        {"not started", [](Machine& m) { m.pair("vb", m.device({"VBAudioVACWDM"}, {kStopped})); },
         problem(kNotStarted), not_installed()},
        {"started bit but a problem number",
         [](Machine& m) {
             m.pair("hifi", m.device({"VBAudioHFVAIO"},
                                     {{kConfigRetSuccess, {kNodeStarted | kNodeHasProblem, 10}}}));
         },
         not_installed(), problem(kNotStarted)},
        {"DN_HAS_PROBLEM without a problem number",
         [](Machine& m) {
             m.pair("vb", m.device({"VBAudioVACWDM"},
                                   {{kConfigRetSuccess, {kNodeStarted | kNodeHasProblem, 0}}}));
         },
         problem(kNotStarted), not_installed()},
        {"stale problem numbers without DN_HAS_PROBLEM change nothing",
         [](Machine& m) {
             const StatusReply stale_restart{kConfigRetSuccess,
                                             {kNodeStarted, kProblemNeedsRestart}};
             m.pair("vb", m.device({"VBAudioVACWDM"}, {stale_restart, stale_restart}));
             m.pair("hifi", m.device({"VBAudioHFVAIO"}, {{kConfigRetSuccess, {kNodeStarted, 10}}}));
         },
         ready("vb-render", "vb-capture"), ready("hifi-render", "hifi-capture")},
    });
}

TEST(CableDetection, EndpointSets) {
    run_rows({
        {"VB-CABLE picks the Speakers playback endpoint",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("line-out", vb, {.form_factor = 2});
             m.pair("vb", vb);
         },
         ready("vb-render", "vb-capture"), not_installed()},
        {"VB-CABLE playback form factor unreadable",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.pair("vb", vb);
             m.form_factors.endpoints[endpoint_id("vb-render")].read = kHResultFail;
         },
         missing(), not_installed()},
        {"VB-CABLE playback endpoint unknown to Core Audio",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("r", vb, {.form_factor = std::nullopt});
             m.endpoint("c", vb, {.direction = kCapture});
         },
         missing(), not_installed()},
        {"recording endpoints and Hi-Fi Cable skip the form factor",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("vb-render", vb, {});
             m.endpoint("vb-capture", vb, {.direction = kCapture, .form_factor = std::nullopt});
             const DevNode hifi = m.device({"VBAudioHFVAIO"});
             m.endpoint("hifi-render", hifi, {.form_factor = std::nullopt});
             m.endpoint("hifi-capture", hifi, {.direction = kCapture, .form_factor = 4});
         },
         ready("vb-render", "vb-capture"), ready("hifi-render", "hifi-capture")},
        {"only playback endpoint has 16 channels",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("r", vb, {.channels = 16});
             m.endpoint("c", vb, {.direction = kCapture});
         },
         missing(), not_installed()},
        {"mono and 8-channel endpoints are ignored beside a stereo pair",
         [](Machine& m) {
             const DevNode hifi = m.device({"VBAudioHFVAIO"});
             m.endpoint("mono", hifi, {.channels = 1});
             m.endpoint("eight", hifi, {.direction = kCapture, .channels = 8});
             m.pair("hifi", hifi);
         },
         not_installed(), ready("hifi-render", "hifi-capture")},
        {"two usable playback endpoints and no recording endpoint",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("r1", vb, {});
             m.endpoint("r2", vb, {});
         },
         missing(), not_installed()},
        {"no endpoints at all", [](Machine& m) { m.device({"VBAudioHFVAIO"}); }, not_installed(),
         missing()},
        {"two playback, one recording",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("r1", vb, {});
             m.pair("vb", vb);
         },
         problem(kAmbiguous), not_installed()},
        {"one playback, two recording",
         [](Machine& m) {
             const DevNode hifi = m.device({"VBAudioHFVAIO"});
             m.endpoint("c1", hifi, {.direction = kCapture});
             m.pair("hifi", hifi);
         },
         not_installed(), problem(kAmbiguous)},
        {"endpoints of the other cable and of other devices do not count",
         [](Machine& m) {
             m.device({"VBAudioVACWDM"});
             m.pair("hifi", m.device({"VBAudioHFVAIO"}));
             m.pair("hda", m.device({"HDAUDIO\\FUNC_01"}));
         },
         missing(), ready("hifi-render", "hifi-capture")},
    });
}

TEST(CableDetection, EndpointAncestry) {
    run_rows({
        {"exactly 8 levels down belongs",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("vb-render", vb, {.depth = 8});
             m.endpoint("vb-capture", vb, {.direction = kCapture, .depth = 8});
         },
         ready("vb-render", "vb-capture"), not_installed()},
        {"9 levels down does not",
         [](Machine& m) {
             const DevNode vb = m.device({"VBAudioVACWDM"});
             m.endpoint("vb-render", vb, {.depth = 9});
             m.endpoint("vb-capture", vb, {.direction = kCapture, .depth = 2});
         },
         missing(), not_installed()},
        {"endpoint without a device node",
         [](Machine& m) {
             const DevNode hifi = m.device({"VBAudioHFVAIO"});
             m.endpoint("r", 0, {});
             m.endpoint("c", hifi, {.direction = kCapture});
         },
         not_installed(), missing()},
        {"walk fails on the way up",
         [](Machine& m) {
             const DevNode hifi = m.device({"VBAudioHFVAIO"});
             m.pair("hifi", hifi);
             m.endpoint("lost", hifi, {.direction = kCapture, .depth = 3});
             // Break the walk of the third endpoint one level up from its own node.
             m.tree.nodes[m.tree.nodes.size() - 2].parent_result = kConfigRetNoSuchDevnode;
         },
         not_installed(), ready("hifi-render", "hifi-capture")},
    });
}

TEST(CableDetection, HifiCableRates) {
    const auto hifi_with = [](std::uint32_t render, std::uint32_t capture) {
        return [=](Machine& m) { m.pair("hifi", m.device({"VBAudioHFVAIO"}), render, capture); };
    };
    const std::string render = endpoint_id("hifi-render");
    const std::string capture = endpoint_id("hifi-capture");
    run_rows({
        {"48 kHz both", hifi_with(48000, 48000), not_installed(),
         ready("hifi-render", "hifi-capture")},
        {"44.1 kHz both", hifi_with(44100, 44100), not_installed(),
         ready("hifi-render", "hifi-capture")},
        {"rates differ", hifi_with(44100, 48000), not_installed(),
         problem("Hi-Fi Cable sample rates differ (44100 / 48000 Hz); set both ends to stereo 48 "
                 "kHz in mmsys.cpl",
                 render, capture)},
        {"0 Hz both", hifi_with(0, 0), not_installed(),
         problem("Hi-Fi Cable sample rates differ (0 / 0 Hz); set both ends to stereo 48 kHz in "
                 "mmsys.cpl",
                 render, capture)},
        {"0 Hz playback", hifi_with(0, 48000), not_installed(),
         problem(hifi_rate_message(0, 48000), render, capture)},
        {"VB-CABLE does not compare rates",
         [](Machine& m) { m.pair("vb", m.device({"VBAudioVACWDM"}), 0, 96000); },
         ready("vb-render", "vb-capture"), not_installed()},
    });
}

TEST(CableDetection, FormFactorIsReadOnlyForVbCablePlaybackEndpointsUnderTheDevice) {
    Machine m;
    const DevNode vb = m.device({"VBAudioVACWDM"});
    m.pair("vb", vb);
    m.endpoint("vb-speakers-8ch", vb, {.channels = 8});
    m.pair("hifi", m.device({"VBAudioHFVAIO"}));
    m.pair("other", m.device({"USB\\VID_1"}));
    ASSERT_TRUE(m.detect().has_value());
    std::vector<std::string> asked;
    for (const std::string& call : m.form_factors.calls) {
        if (call.starts_with("get_device ")) asked.push_back(call.substr(11));
    }
    // Every VB-CABLE playback endpoint, stereo or not, and nothing else.
    EXPECT_EQ(asked,
              (std::vector<std::string>{endpoint_id("vb-render"), endpoint_id("vb-speakers-8ch")}));
}

TEST(CableDetection, WholeDetectionFailures) {
    {
        SCOPED_TRACE("endpoint list fails after the scan");
        Machine m;
        m.pair("vb", m.device({"VBAudioVACWDM"}));
        const Result<CableReport> report = detect_cables(m.tree, m.form_factors, [] {
            return Result<std::vector<AudioEndpoint>>(fail("cubeb enumerate: Error"));
        });
        ASSERT_FALSE(report.has_value());
        EXPECT_EQ(report.error(), "cubeb enumerate: Error");
        EXPECT_EQ(m.tree.count("hardware_ids"), m.tree.nodes.size());  // the scan ran
        EXPECT_EQ(m.tree.count("parent"), 0u);                         // no probe did
    }
    {
        SCOPED_TRACE("id list size fails: no endpoint request");
        Machine m;
        m.tree.size_result = kConfigRetNotImplemented;
        const Result<CableReport> report = m.detect();
        ASSERT_FALSE(report.has_value());
        EXPECT_EQ(report.error(), "Cannot enumerate Windows audio driver identities");
        EXPECT_EQ(m.endpoint_requests, 0);
    }
    {
        SCOPED_TRACE("id list keeps growing: no endpoint request");
        Machine m;
        m.tree.list_growths = 3;
        const Result<CableReport> report = m.detect();
        ASSERT_FALSE(report.has_value());
        EXPECT_EQ(report.error(), "Audio devices changed during detection; refresh again");
        EXPECT_EQ(m.endpoint_requests, 0);
    }
}

TEST(CableDetection, ProbesVbCableFirstWithAFreshStatusRead) {
    Machine m;
    const DevNode hifi = m.device({"VBAudioHFVAIO"});
    const DevNode vb = m.device({"VBAudioVACWDM"});
    ASSERT_TRUE(m.detect().has_value());
    std::vector<std::string> statuses;
    for (const std::string& call : m.tree.calls) {
        if (call.starts_with("status")) statuses.push_back(call);
    }
    const std::string h = "status " + std::to_string(hifi);
    const std::string v = "status " + std::to_string(vb);
    EXPECT_EQ(statuses, (std::vector<std::string>{h, v, v, h}));  // scan order, then probes
}

}  // namespace
}  // namespace quorle::audio
