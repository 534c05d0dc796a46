// The Windows layer run for real (under Wine in the cross build): the Configuration Manager
// scan, and the form-factor read against the endpoints of a running PulseAudio daemon that
// the test command starts.
#include <windows.h>

#include <mmdeviceapi.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "audio/cable/cable_detection.h"
#include "audio/cable/driver_scan.h"
#include "audio/cable/endpoint_form_factor.h"
#include "audio/cable/system_cable_platform.h"
#include "common/com_apartment.h"
#include "common/text.h"

namespace quorle::audio {
namespace {

// Releases a COM interface when it goes (test-side enumeration only).
template <class Interface>
struct Released {
    Interface* pointer = nullptr;
    Released() = default;
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() {
        if (pointer != nullptr) pointer->Release();
    }
};

// The ids of the active endpoints of one direction, as Core Audio lists them.
std::vector<std::string> active_endpoint_ids(EDataFlow flow) {
    std::vector<std::string> ids;
    Released<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&enumerator.pointer)))) {
        ADD_FAILURE() << "no device enumerator";
        return ids;
    }
    Released<IMMDeviceCollection> collection;
    if (FAILED(enumerator.pointer->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE,
                                                      &collection.pointer))) {
        ADD_FAILURE() << "endpoints not enumerable";
        return ids;
    }
    UINT count = 0;
    if (FAILED(collection.pointer->GetCount(&count))) return ids;
    for (UINT i = 0; i < count; ++i) {
        Released<IMMDevice> device;
        if (FAILED(collection.pointer->Item(i, &device.pointer))) continue;
        LPWSTR id = nullptr;
        if (FAILED(device.pointer->GetId(&id))) continue;
        ids.push_back(utf16_to_utf8(reinterpret_cast<const char16_t*>(id)));
        CoTaskMemFree(id);
    }
    return ids;
}

class CableWindowsLayer : public ::testing::Test {
  protected:
    ComApartment apartment_ = ComApartment::join_multithreaded();
};

TEST_F(CableWindowsLayer, ScanIsEmptyAndBothCablesAreNotInstalled) {
    const auto tree = system_device_tree();
    const auto form_factors = system_form_factor_reader();
    const std::vector<AudioEndpoint> endpoints = {
        {"{0.0.0.00000000}.{a}", "Mic", 48000, 2, EndpointDirection::Capture, true},
        {"{0.0.1.00000000}.{b}", "Speakers", 48000, 2, EndpointDirection::Render, true},
    };
    int requests = 0;
    const Result<CableReport> report = detect_cables(*tree, *form_factors, [&] {
        ++requests;
        return Result<std::vector<AudioEndpoint>>(endpoints);
    });
    ASSERT_TRUE(report.has_value()) << report.error();
    EXPECT_EQ(report->vb_cable, (CableProbe{NotInstalled{}, {}, {}}));
    EXPECT_EQ(report->hifi_cable, (CableProbe{NotInstalled{}, {}, {}}));
    EXPECT_EQ(report->endpoints, endpoints);
    EXPECT_EQ(requests, 1);

    const Result<std::u16string> ids = fetch_present_device_ids(*tree);
    ASSERT_TRUE(ids.has_value()) << ids.error();
    EXPECT_TRUE(scan_driver_devices(*tree, *ids).empty());
}

TEST_F(CableWindowsLayer, SinkRenderEndpointsReadAsSpeakers) {
    const std::vector<std::string> render = active_endpoint_ids(eRender);
    ASSERT_FALSE(render.empty()) << "no render endpoint: is the PulseAudio daemon reachable?";
    const auto form_factors = system_form_factor_reader();
    for (const std::string& id : render) {
        EXPECT_TRUE(endpoint_is_speakers(*form_factors, id)) << id;
    }
}

TEST_F(CableWindowsLayer, CaptureEndpointsAreNotSpeakers) {
    const std::vector<std::string> capture = active_endpoint_ids(eCapture);
    ASSERT_FALSE(capture.empty());
    const auto form_factors = system_form_factor_reader();
    for (const std::string& id : capture) {
        EXPECT_FALSE(endpoint_is_speakers(*form_factors, id)) << id;
    }
}

TEST_F(CableWindowsLayer, MissingEndpointIdIsExcluded) {
    const auto form_factors = system_form_factor_reader();
    EXPECT_FALSE(endpoint_is_speakers(*form_factors, "{0.0.0.00000000}.{not-an-endpoint}"));
    EXPECT_FALSE(endpoint_is_speakers(*form_factors, ""));
}

// On a thread already in a single-threaded apartment the join fails; the check still runs
// and must not leave the apartment it did not join.
TEST_F(CableWindowsLayer, CheckKeepsAForeignApartmentIntact) {
    const std::vector<std::string> render = active_endpoint_ids(eRender);
    ASSERT_FALSE(render.empty());
    HRESULT joined = E_FAIL;
    bool speakers = false;
    HRESULT rejoined = E_FAIL;
    std::thread thread([&] {
        joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        speakers = endpoint_is_speakers(*system_form_factor_reader(), render.front());
        // Still in the apartment (S_FALSE) only if the check did not leave it for us.
        rejoined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(rejoined)) CoUninitialize();
        if (SUCCEEDED(joined)) CoUninitialize();
    });
    thread.join();
    EXPECT_EQ(joined, S_OK);
    EXPECT_TRUE(speakers);
    EXPECT_EQ(rejoined, S_FALSE);
}

// On a thread of its own the check leaves no apartment behind.
TEST_F(CableWindowsLayer, CheckLeavesNoApartmentBehind) {
    const std::vector<std::string> render = active_endpoint_ids(eRender);
    ASSERT_FALSE(render.empty());
    bool speakers = false;
    HRESULT after = E_FAIL;
    std::thread thread([&] {
        speakers = endpoint_is_speakers(*system_form_factor_reader(), render.front());
        after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(after)) CoUninitialize();
    });
    thread.join();
    EXPECT_TRUE(speakers);
    EXPECT_EQ(after, S_OK);  // not RPC_E_CHANGED_MODE: the MTA join was undone
}

}  // namespace
}  // namespace quorle::audio
