// wasapi_tone_player: plays a sine through the default render endpoint of Windows, in
// WASAPI shared mode, in the endpoint's own mix format (32-bit float, any rate and channel
// count; every channel carries the same sine), paced by the endpoint's buffer.
//
//   wasapi_tone_player [--frequency HZ] [--level AMPLITUDE] [--seconds S]
//
// Prints "pid <pid>" first, flushed, so that a test can name the process before it plays.
// Exit status 0 after the whole signal was played, 1 on a failure (the step and its HRESULT
// on standard error), 2 on a wrong command line.
#include <windows.h>

#include <audioclient.h>
#include <mmreg.h>
#include <mmdeviceapi.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <string_view>

#include "audio_host/capture_run/win32/com_ptr.h"

namespace {

using quorle::host::win32::ComPtr;

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, declared here so that no GUID library is needed.
constexpr GUID kSubtypeIeeeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct Options {
    double frequency = 1000.0;
    double level = 0.4;
    double seconds = 3.0;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc) return false;
        char* end = nullptr;
        const double value = std::strtod(argv[++i], &end);
        if (end == argv[i] || *end != '\0' || !(value > 0)) return false;
        if (name == "--frequency") {
            options.frequency = value;
        } else if (name == "--level") {
            options.level = value;
        } else if (name == "--seconds") {
            options.seconds = value;
        } else {
            return false;
        }
    }
    return options.level <= 1.0;
}

int failed(const char* step, HRESULT code) {
    std::fprintf(stderr, "wasapi_tone_player: %s: 0x%08lX\n", step,
                 static_cast<unsigned long>(code));
    return 1;
}

// CoInitializeEx paired with CoUninitialize.
struct Apartment {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Apartment() = default;
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

// The mix format from GetMixFormat, freed with CoTaskMemFree.
struct MixFormat {
    WAVEFORMATEX* format = nullptr;
    MixFormat() = default;
    MixFormat(const MixFormat&) = delete;
    MixFormat& operator=(const MixFormat&) = delete;
    ~MixFormat() { CoTaskMemFree(format); }

    [[nodiscard]] bool is_float() const {
        if (format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return format->wBitsPerSample == 32;
        if (format->wFormatTag != WAVE_FORMAT_EXTENSIBLE) return false;
        const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        return IsEqualGUID(extensible->SubFormat, kSubtypeIeeeFloat) &&
               format->wBitsPerSample == 32;
    }
};

int play(const Options& options) {
    const Apartment apartment;
    if (FAILED(apartment.result)) return failed("CoInitializeEx", apartment.result);

    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr =
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator.put()));
    if (FAILED(hr)) return failed("create device enumerator", hr);
    ComPtr<IMMDevice> device;
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
    if (FAILED(hr)) return failed("default render endpoint", hr);
    ComPtr<IAudioClient> client;
    hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                          reinterpret_cast<void**>(client.put()));
    if (FAILED(hr)) return failed("activate audio client", hr);

    MixFormat mix;
    hr = client->GetMixFormat(&mix.format);
    if (FAILED(hr)) return failed("mix format", hr);
    if (!mix.is_float()) return failed("mix format is not 32-bit float", E_NOTIMPL);
    const unsigned channels = mix.format->nChannels;
    const double rate = mix.format->nSamplesPerSec;

    constexpr REFERENCE_TIME kBufferDuration = 2'000'000;  // 200 ms in 100-ns units
    hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBufferDuration, 0, mix.format, nullptr);
    if (FAILED(hr)) return failed("initialize audio client", hr);
    UINT32 buffer_frames = 0;
    hr = client->GetBufferSize(&buffer_frames);
    if (FAILED(hr)) return failed("buffer size", hr);
    ComPtr<IAudioRenderClient> render;
    hr = client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(render.put()));
    if (FAILED(hr)) return failed("render service", hr);

    const auto total = static_cast<UINT64>(options.seconds * rate);
    const double step = 2.0 * std::numbers::pi * options.frequency / rate;
    UINT64 written = 0;
    bool started = false;
    while (written < total) {
        UINT32 padding = 0;
        hr = client->GetCurrentPadding(&padding);
        if (FAILED(hr)) return failed("current padding", hr);
        UINT32 frames = buffer_frames - padding;
        if (frames > total - written) frames = static_cast<UINT32>(total - written);
        if (frames > 0) {
            BYTE* data = nullptr;
            hr = render->GetBuffer(frames, &data);
            if (FAILED(hr)) return failed("get buffer", hr);
            auto* samples = reinterpret_cast<float*>(data);
            for (UINT32 f = 0; f < frames; ++f) {
                const double phase = step * static_cast<double>(written + f);
                const auto value = static_cast<float>(options.level * std::sin(phase));
                for (unsigned c = 0; c < channels; ++c)
                    samples[static_cast<std::size_t>(f) * channels + c] = value;
            }
            hr = render->ReleaseBuffer(frames, 0);
            if (FAILED(hr)) return failed("release buffer", hr);
            written += frames;
        }
        if (!started) {
            hr = client->Start();
            if (FAILED(hr)) return failed("start", hr);
            started = true;
        }
        Sleep(10);
    }
    // Let the endpoint play what is queued before stopping.
    for (int i = 0; i < 100; ++i) {
        UINT32 padding = 0;
        if (FAILED(client->GetCurrentPadding(&padding)) || padding == 0) break;
        Sleep(10);
    }
    client->Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs("usage: wasapi_tone_player [--frequency HZ] [--level A] [--seconds S]\n",
                   stderr);
        return 2;
    }
    std::printf("pid %lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
    std::fflush(stdout);
    return play(options);
}
