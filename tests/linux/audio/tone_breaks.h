// Where a recording of the environment's tone (tests/env/devices.sh --tone 7) breaks, told
// apart from the cycles the sound server itself missed.
//
// On PipeWire the tone passes through the server's graph. A busy machine can make the graph miss
// a cycle (2048 frames at 48 kHz, 42.7 ms, by default): that cycle comes out silent, and the tone
// goes on where its clock has got to, as a sound card's stream does after an overrun. That gap is
// the server's. Whatever a capture of ours could get wrong shows otherwise: a buffer lost,
// repeated or out of order moves the tone off its clock (buffers are not a multiple of the
// period), and stale or foreign audio is loud. So a stretch is the server's only when it is
// silent, shorter than one of the capture's buffers, and the tone resumes on its clock after it.
// Where no clock shows (a gap at the recording's start or end, or right after another), silent
// and shorter than a buffer must do. Only a period at a gap's edges, where the resampler rings,
// goes unjudged. A missed cycle can also lose the tone's place in the server's streams: the tone
// then comes back at another phase, even whole samples away. That is the server's too when the
// silence begins and ends inside a buffer of ours (only a buffer filled in part, or one that
// begins with other audio, puts silence at a buffer's edge) and the tone comes back as a sine of
// its own loudness. PipeWire's resampler can also start over with no silence: the tone then goes on
// at once at another fraction of a sample's phase, which no buffer of ours lost, repeated or out
// of order can give (those move it by whole samples); nor does it fall at a buffer's edge, where
// another stream's audio in a buffer of ours would begin.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

struct ToneBreaks {
    long first = -1;                               // the first break of ours, or -1
    std::vector<std::pair<long, long>> serverGaps;  // [begin, end) of each cycle the server missed
    std::vector<std::pair<long, long>> resamplerRestarts;  // each break, and where the tone runs clean again
    std::vector<std::pair<long, long>> lostPlaceGaps;  // [begin, end) of each missed cycle after which the tone
                                                       // came back at another phase
};

// `tolerance` is the difference allowed between samples a period apart (resampling and 8-bit
// samples leave some); a gap of the server's is shorter than `bufferFrames`.
ToneBreaks findBreaks(const std::vector<int>& samples, size_t period, int tolerance, size_t bufferFrames);

// Expects no break of ours, and names in the log each cycle the server missed.
void expectContinuous(const std::vector<int>& samples, size_t period, int tolerance, size_t bufferFrames);
