/* A dependency of the counting plug-in. It sits beside the plug-in, and the
   plug-in carries no search path for it: only the plug-in's own folder
   can provide it. */

/* The value the plug-in writes into a picture when it was configured
   without one. */
int CountingHookDefaultMark(void) { return 77; }
