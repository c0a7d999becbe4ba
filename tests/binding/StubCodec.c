/* Every codec entry as an empty function; the build renames one of them. */
#include "binding/LibAVEntries.h"

#define STUB_ENTRY(name) void name(void) {}
LIBAV_CODEC_ENTRIES(STUB_ENTRY)
