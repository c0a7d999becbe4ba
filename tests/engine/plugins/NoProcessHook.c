/* A broken frame-hook plug-in: it can be configured and released but has
   no "Process" entry point, so the engine must refuse it. */
static int Configured;

int Configure(void** AContext, int AArgc, char* AArgv[], int AMaxIndex) {
    (void)AArgc;
    (void)AArgv;
    (void)AMaxIndex;
    *AContext = 0;
    ++Configured;
    return 0;
}

void Release(void* AContext) { (void)AContext; }

int NoProcessHookConfigured(void) { return Configured; }
