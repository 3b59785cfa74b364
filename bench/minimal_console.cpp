// The startup benchmark's baseline: a console program that does nothing at all.
extern "C" int wmain(int, wchar_t**) { return 0; }
