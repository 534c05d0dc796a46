// Device records from the audio backend, built from arbitrary bytes, through the endpoint
// list: texts must come out as valid UTF-8, the state filter and the checks must hold, and the
// collection must be freed on every path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/backend/audio_context.h"
#include "audio/backend/endpoint_list.h"
#include "common/text.h"
#include "unit/backend/backend_fakes.h"

namespace {

using quorle::audio::AudioEndpoint;
using quorle::audio::EndpointDirection;
using quorle::audio::testing::CallLog;
using quorle::audio::testing::CapturedStream;
using quorle::audio::testing::FakeCubebApi;
using quorle::audio::testing::FakeDevice;

void require(bool condition) {
    if (!condition)
        std::abort();
}

// Reads fixed fields, then two NUL-ended texts, for each device until the input runs out.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    [[nodiscard]] bool more() const { return pos_ < size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t word() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        return v;
    }
    std::string text() {
        std::string out;
        while (pos_ < size_ && data_[pos_] != 0)
            out.push_back(static_cast<char>(data_[pos_++]));
        if (pos_ < size_)
            ++pos_;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    std::vector<FakeDevice> devices;
    while (in.more() && devices.size() < 16) {
        FakeDevice d;
        const std::uint8_t flags = in.byte();
        d.state = flags % 3;
        d.preferred = in.byte();
        d.max_channels = in.word();
        d.default_rate = in.word();
        std::string id = in.text();
        std::string name = in.text();
        if ((flags & 0x10) == 0)
            d.id = id;
        if ((flags & 0x20) == 0)
            d.name = name;
        devices.push_back(d);
    }
    const EndpointDirection direction =
        size % 2 == 0 ? EndpointDirection::Capture : EndpointDirection::Render;

    CallLog log;
    FakeCubebApi api(log);
    api.devices[quorle::audio::cubeb_device_type(direction)] = devices;
    CapturedStream err;
    auto opened = quorle::audio::open_context(api, err);
    require(opened.has_value());
    const auto listed = quorle::audio::list_endpoints_on_context(opened->context, direction);
    require(api.live_collections() == 0);

    // The expected outcome, device by device.
    std::vector<const FakeDevice*> enabled;
    const char* first_error = nullptr;
    for (const FakeDevice& d : devices) {
        if (d.state != quorle::audio::kCubebDeviceStateEnabled)
            continue;
        if (!d.id || d.id->empty()) {
            first_error = "device has no stable identifier";
            break;
        }
        if (d.max_channels > 0xFFFF) {
            first_error = "invalid channel count";
            break;
        }
        enabled.push_back(&d);
    }
    if (first_error != nullptr) {
        require(!listed.has_value() && listed.error() == first_error);
        return 0;
    }
    require(listed.has_value() && listed->size() == enabled.size());
    for (std::size_t i = 0; i < enabled.size(); ++i) {
        const FakeDevice& d = *enabled[i];
        const AudioEndpoint& e = (*listed)[i];
        require(quorle::is_valid_utf8(e.id) && quorle::is_valid_utf8(e.name));
        require(!e.id.empty());
        if (quorle::is_valid_utf8(*d.id))
            require(e.id == *d.id);
        require(e.name == (d.name ? quorle::bytes_to_utf8(*d.name) : std::string()));
        require(e.channels == d.max_channels && e.default_rate == d.default_rate);
        require(e.direction == direction && e.is_default == ((d.preferred & 1) != 0));
    }
    return 0;
}
