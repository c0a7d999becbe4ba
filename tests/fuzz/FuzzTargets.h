// The entry functions of the fuzz targets. The fuzzers (clang, libFuzzer)
// and the replay test of the plain suite call the same functions, so that
// an input kept in regressions/ replays exactly what the fuzzer ran.
//
// Each function bounds its own work: the input is read from memory through
// a custom I/O context that refuses further reads after a fixed number of
// reads or a fixed time (and asks a running job to stop), so that only a
// real hang outlasts the fuzzer's time-out.
#pragma once

#include <cstddef>
#include <cstdint>

struct TFuzzOutcome {
    bool Opened = false;     // the input was recognised and opened
    bool Decoded = false;    // the probe decoded at least one picture
    bool Converted = false;  // a job ran to its end, or the options were built
};

// Loads the codec libraries once and silences the library log; false when
// they cannot be loaded.
bool FuzzSetUp();

// The probe: open from memory, file and stream information, the
// information text, pictures at a few positions.
TFuzzOutcome FuzzProbe(const uint8_t* Data, size_t Size);

// The engine: a stream copy into Matroska, then a re-encode of a short span
// into AVI (MPEG-4 and MP2, small pictures), both written to /dev/null.
TFuzzOutcome FuzzEngine(const uint8_t* Data, size_t Size);

// The settings file and BuildOutputOptions. Data[0] % 36 is the profile,
// Data[1] picks the source picture, Data[2] the zoom mode and crops; the
// rest is the body of that profile's section in the settings file. The
// options built are then handed to an engine, as the component does.
TFuzzOutcome FuzzSettings(const uint8_t* Data, size_t Size);
