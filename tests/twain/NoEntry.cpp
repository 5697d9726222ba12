// A library in the source manager's place that lacks DSM_Entry.
extern "C" __attribute__((visibility("default"))) int NotTheEntryPoint() { return 0; }
