// Operations whose implementation files have not landed yet. Each fails
// plainly, so a job that reaches one ends with a clear message.
#include "engine/FFmpeg.h"

void TCustomFFmpeg::Transcode() { throw FFMpegException("The transcode is not built yet"); }
