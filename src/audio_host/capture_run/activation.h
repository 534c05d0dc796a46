#pragma once
// Process-loopback activation: the parameter block, the asynchronous activation turned into
// one blocking call with a 10-second limit, and the set-up of the activated client for
// event-driven capture of 32-bit float stereo at 48000 Hz.
#include <chrono>
#include <cstdint>
#include <memory>

#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/timed_wait.h"
#include "common/result.h"

namespace quorle::host {

// PROCESS_LOOPBACK_MODE_*: capture the target's process tree, or everything but it.
enum class LoopbackMode : std::uint32_t {
    IncludeTargetProcessTree = 0,
    ExcludeTargetProcessTree = 1,
};

// AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK
inline constexpr std::uint32_t kActivationTypeProcessLoopback = 1;

// How long the activation may take, from the start of the wait for its outcome.
inline constexpr std::chrono::seconds kActivationTimeLimit{10};

// The 12-byte block: activation type, target process id, loopback mode (little-endian).
[[nodiscard]] ActivationParameters activation_parameters(std::uint32_t target_pid,
                                                         LoopbackMode mode);

// Activates the process-loopback audio client for `target_pid` in `mode`. The calling thread
// has joined the multithreaded apartment. Blocks at most kActivationTimeLimit after the
// asynchronous call has been made.
[[nodiscard]] Result<std::unique_ptr<AudioClient>> activate_process_loopback(
    CapturePlatform& platform, std::uint32_t target_pid, LoopbackMode mode, TimedWait& time);

// The fixed stream of a capture: IEEE float, 2 channels, 48000 Hz.
inline constexpr StreamFormat kCaptureStreamFormat{
    .format_tag = 3,  // WAVE_FORMAT_IEEE_FLOAT
    .channels = 2,
    .samples_per_sec = 48000,
    .avg_bytes_per_sec = 384000,
    .block_align = 8,
    .bits_per_sample = 32,
    .extra_size = 0,
};

// Shared mode; loopback, event callback and automatic conversion; the engine chooses the
// buffer duration and periodicity.
inline constexpr ClientInitialization kCaptureClientInitialization{
    .share_mode = 0,              // AUDCLNT_SHAREMODE_SHARED
    .stream_flags = 0x80060000u,  // LOOPBACK | EVENTCALLBACK | AUTOCONVERTPCM
    .buffer_duration = 0,
    .periodicity = 0,
    .format = kCaptureStreamFormat,
};

// What a set-up client hands on. Members in acquisition order, so the event is closed
// before the capture service is released.
struct ProcessCapture {
    std::unique_ptr<CaptureService> service;
    std::uint32_t buffer_frames = 0;  // as GetBufferSize reported it
    std::unique_ptr<CaptureEvent> event;
};

// Initialize, GetBufferSize, GetService, CreateEventW, SetEventHandle, in this order. On a
// failure what was obtained is released (event first) before the message returns.
[[nodiscard]] Result<ProcessCapture> initialize_process_capture(CapturePlatform& platform,
                                                                AudioClient& client);

}  // namespace quorle::host
