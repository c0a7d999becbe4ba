/* A complete frame-hook plug-in: counts the pictures it sees and marks the
   first luma byte of each with a value given to Configure (or its helper
   library's default). The query functions let the tests look inside. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    uint8_t* data[4];
    int linesize[4];
} HookPicture;

typedef struct {
    int Processed;
    int Mark;
    int ArgCount;
    int MaxIndex;
    int Width, Height, PixFmt;
    int64_t LastPts;
} CountingContext;

int CountingHookDefaultMark(void);

static int LiveContexts;
static int Releases;

int Configure(void** AContext, int AArgc, char* AArgv[], int AMaxIndex) {
    if (AArgc > 1 && strcmp(AArgv[1], "fail") == 0) return 1;
    CountingContext* Context = calloc(1, sizeof(CountingContext));
    if (!Context) return 1;
    Context->Mark = AArgc > 1 ? atoi(AArgv[1]) : CountingHookDefaultMark();
    Context->ArgCount = AArgc;
    Context->MaxIndex = AMaxIndex;
    Context->LastPts = -1;
    *AContext = Context;
    ++LiveContexts;
    return 0;
}

void Process(void* AContext, HookPicture* APicture, int APixFmt, int AWidth, int AHeight, int64_t APts) {
    CountingContext* Context = AContext;
    ++Context->Processed;
    Context->Width = AWidth;
    Context->Height = AHeight;
    Context->PixFmt = APixFmt;
    Context->LastPts = APts;
    if (APicture && APicture->data[0]) APicture->data[0][0] = (uint8_t)Context->Mark;
}

void Release(void* AContext) {
    free(AContext);
    --LiveContexts;
    ++Releases;
}

int CountingHookProcessed(void* AContext) { return ((CountingContext*)AContext)->Processed; }
int CountingHookArgCount(void* AContext) { return ((CountingContext*)AContext)->ArgCount; }
int CountingHookMaxIndex(void* AContext) { return ((CountingContext*)AContext)->MaxIndex; }
int CountingHookMark(void* AContext) { return ((CountingContext*)AContext)->Mark; }
int64_t CountingHookLastPts(void* AContext) { return ((CountingContext*)AContext)->LastPts; }
int CountingHookLive(void) { return LiveContexts; }
int CountingHookReleases(void) { return Releases; }
