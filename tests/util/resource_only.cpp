// The modules built from this file exist for their version resources only.
extern "C" __declspec(dllexport) int KwResourceOnly() { return 0; }
