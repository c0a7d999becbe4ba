// What the main window's batch run shares between the converter's worker
// threads and the window: the captured frame and the pace of the live
// picture. The rest of the batch state lives on the window's thread.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/BatchProgress.h"
#include "common/Bitmap.h"

struct TBatchShared {
    // At most this many pictures a second reach the dialog.
    static constexpr int64_t PictureSpacingMs = 100;

    // The captured frame; the pointer is guarded by FrameLock, the pixels
    // by the bitmap's own lock. Null once the window has closed.
    std::shared_ptr<TBitmap> Frame() {
        std::lock_guard<std::mutex> Guard(FrameLock);
        return FFrame;
    }
    void SetFrame(std::shared_ptr<TBitmap> Value) {
        std::lock_guard<std::mutex> Guard(FrameLock);
        FFrame = std::move(Value);
    }
    // True when a picture is due now; the caller then hands one over.
    bool PictureDue();

    std::atomic<bool> LivePicture{true};
    std::atomic<int64_t> LastPictureMs{INT64_MIN / 2};

    // Window thread only: the batch's counts for the closing notification,
    // and the handle that keeps the computer awake while it runs.
    int Converted = 0, Failed = 0;
    int SleepLock = -1;
    // Window thread only: speed and time left for the dialog's bar.
    TBatchProgress Timing;

private:
    std::mutex FrameLock;
    std::shared_ptr<TBitmap> FFrame;
};

// The output name as the progress dialog shows it: whole up to 50
// characters, else the first 44, "..", and the extension.
std::string ProgressOutputText(const std::string& Path);

// The body of the notification at the end of a batch: "3 files converted.",
// "2 files converted, 1 failed."
std::string BatchEndText(int Converted, int Failed);
