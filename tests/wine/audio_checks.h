// Voxcap against Wine's waveform audio, recording the virtual microphone.
#pragma once

class Voxcap;

// With the test tone playing: the recording arrives whole and in order; bad reads are refused.
void recordingChecks(const Voxcap& voxcap);

// With the test tone playing: close wakes a reader, captures coexist, nothing leaks.
void lifecycleChecks(const Voxcap& voxcap);

// With the test tone playing: the leak checks themselves catch a leak of memory, and of a
// handle, made on purpose in every cycle.
void leakCheckChecks(const Voxcap& voxcap);

// With the test tone playing: open and close beside three captures being read stay fast.
void busyChecks(const Voxcap& voxcap);

// With the test tone playing: every handle is a positive jint, with many captures open at once;
// on x86-64, where memory may lie anywhere, open refuses rather than truncate an address.
void handleChecks(const Voxcap& voxcap);

// With the test tone playing: handles that name no open capture are refused and close nothing,
// also while reads and closes race.
void deadHandleChecks(const Voxcap& voxcap);

// With no recording device at all.
void noDeviceChecks(const Voxcap& voxcap);
