// Where an output file is written: a hidden temporary file beside its final
// name, ".NAME.XXXXXX.part", created exclusively and without following a
// link, locked (flock) for as long as it is written, and given its final
// name only once it is complete, by a rename that never replaces an entry.
// A name that is taken meanwhile gives way to the next of its "_(new_N)"
// series.
#pragma once

#include <ctime>
#include <string>

struct TOutputTarget {
    int Handle = -1;        // the temporary file, locked while open
    std::string TempName;   // its path
    std::string FinalName;  // the name it is meant to get
};

// Any directory entry makes a name taken: a file, a folder, a FIFO, a
// device, a link (dangling or not). Nothing is followed.
bool OutputNameTaken(const std::string& AName);

// The name after AName in its series: "clip_(new).mp4" gives
// "clip_(new_1).mp4", "clip_(new_4).mp4" gives "clip_(new_5).mp4", and a
// name outside the series, "clip.mp4", gives "clip_(new).mp4".
std::string NextSeriesName(const std::string& AName);

// Creates the temporary file for AFinalName. False with errno set when the
// folder refuses it.
bool CreateOutputTarget(const std::string& AFinalName, TOutputTarget& ATarget);

// Writes the temporary file through to the disk and gives it its final name,
// or the next free one of the series. Returns the name given, or empty with
// errno set when no name could be given (the temporary file then stays).
// The target is closed either way.
std::string CommitOutputTarget(TOutputTarget& ATarget);

// Removes the temporary file and closes the target.
void DiscardOutputTarget(TOutputTarget& ATarget);

// Removes the temporary files of earlier runs from AFolder: those older
// than ABefore whose lock can be taken, so that no process writes them any
// more. Returns how many went.
int RemoveStaleOutputs(const std::string& AFolder, time_t ABefore);

// Whether AName (a path or a bare name) is such a temporary file.
bool IsOutputTempName(const std::string& AName);
