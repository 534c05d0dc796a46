// Lists the audio endpoints through the process-wide audio backend, as driver setup does, and
// prints them on standard output, one per line:
//   endpoint<TAB>capture|render<TAB>id<TAB>name<TAB>rate<TAB>channels<TAB>0|1 (default)
// A failure prints "error<TAB><message>" and ends with status 2. The list is asked for twice,
// to show that the second request reuses the running control thread. The program returns
// from main while that thread still runs: its exit status shows that the process ends
// cleanly anyway.
#include <string>

#include "audio/backend/audio_backend.h"
#include "common/std_streams.h"

int main() {
    quorle::init_standard_streams();
    using quorle::audio::AudioEndpoint;
    using quorle::audio::EndpointDirection;

    const auto endpoints = quorle::audio::list_audio_endpoints();
    if (!endpoints) {
        (void)quorle::standard_output().write("error\t" + endpoints.error() + "\n");
        return 2;
    }
    const auto again = quorle::audio::list_audio_endpoints();
    if (!again || *again != *endpoints) {
        (void)quorle::standard_output().write("error\tsecond list differs\n");
        return 3;
    }
    std::string out;
    for (const AudioEndpoint& e : *endpoints) {
        out += "endpoint\t";
        out += e.direction == EndpointDirection::Capture ? "capture" : "render";
        out += "\t" + e.id + "\t" + e.name + "\t" + std::to_string(e.default_rate) + "\t" +
               std::to_string(e.channels) + "\t" + (e.is_default ? "1" : "0") + "\n";
    }
    return quorle::standard_output().write(out) ? 0 : 4;
}
